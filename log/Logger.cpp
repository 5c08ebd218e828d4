#include "log/Logger.h"

#include <cwchar>
#include <new>
#include <vector>

#include "common/LastErrorKeeper.h"
#include "log/FileAccessContinuous.h"
#include "log/FileAccessTransient.h"
#include "log/LogFormat.h"
#include "log/LogSettings.h"

namespace KvQmtLogging {

namespace {

const int kDefaultLevel = LogInfo;
const int kDefaultRotateCount = 2;
const int kDefaultMaxSizeKB = 100;
const size_t kFirstMessageChars = 2048;
const size_t kLargestMessageChars = 131072;
// Longer than a writer waits for the file's mutex, so that the mutex's own
// time-out costs no other thread a line.
const DWORD kLockWaitMs = 1000;

// Formats into a buffer that doubles until the message fits or the largest
// size is reached; empty when it never fits.
std::unique_ptr<wchar_t[]> FormatMessageText(const wchar_t* format, va_list args, size_t& length) {
    for (size_t size = kFirstMessageChars; size <= kLargestMessageChars; size *= 2) {
        std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[size]);
        if (!buffer) return nullptr;
        va_list copy;
        va_copy(copy, args);
        const int written = _vsnwprintf(buffer.get(), size, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < size) {
            buffer[written] = L'\0';
            length = static_cast<size_t>(written);
            return buffer;
        }
    }
    return nullptr;
}

}  // namespace

Logger::Logger() : config_(new LoggerConfig()) {}

Logger::~Logger() {
    kv::LastErrorKeeper keeper;
    Log(MarkerLevel(), L"***  LOG AUTO-CLOSED ***");
    Close();
    // The files that a stuck thread may still be inside are left to the
    // process's end rather than destroyed under it.
    LoggerLockHold lock(lock_, LockWait());
    if (!lock) {
        (void)writer_.release();
        (void)copy_.release();
    }
    config_.reset();
}

DWORD Logger::LockWait() const { return lockStalled_ ? 0 : kLockWaitMs; }

void Logger::NoteLockMissed() {
    lockStalled_ = true;
    OutputDebugStringW(L"kv_qmt_log!Logger: another thread is held up in the log file, line dropped\n");
}

std::unique_ptr<FileLowLevel> Logger::CreateLowLevel() { return std::make_unique<FileLowLevel>(); }

std::unique_ptr<FileUtils> Logger::CreateFileUtils() { return std::make_unique<FileUtilsWin32>(); }

void Logger::Configure(unsigned flags, const wchar_t* component, const wchar_t* logName) {
    kv::LastErrorKeeper keeper;
    {
        LoggerLockHold lock(lock_, LockWait());
        if (!lock) {
            NoteLockMissed();
            return;
        }
        if (writer_) return;
        config_->component.reset(component ? new std::wstring(component) : nullptr);
        config_->logName.reset(logName ? new std::wstring(logName) : nullptr);
        config_->defaultLevel = kDefaultLevel;
        config_->flags = flags;
        config_->pending = true;
        if (flags & LogFlagDeferOpen) {
            // Let any first message through to where the configuration is
            // applied; it is compared again with the real level there.
            level_ = LogVerbose;
            debugOutput_ = false;
            return;
        }
    }
    ApplyConfiguration();
}

void Logger::ApplyConfiguration() {
    const wchar_t* const kFunction = L"KvQmtLogging::Logger::ApplyConfiguration";
    std::vector<IgnoredSetting> ignored;
    int markerLevel = 0;
    {
        LoggerLockHold lock(lock_, LockWait());
        // Not had in time: a later line applies the configuration.
        if (!lock) {
            NoteLockMissed();
            return;
        }
        if (!config_->pending) return;
        const wchar_t* component = config_->component ? config_->component->c_str() : nullptr;
        const wchar_t* logName = config_->logName ? config_->logName->c_str() : nullptr;
        debugOutput_ = ReadLogSetting(component, logName, L"DebugOutputLogging", 0, &ignored) == 1;
        if (!writer_) {
            level_ = ReadLogSetting(component, logName, L"LogLevel", config_->defaultLevel, &ignored);
            std::wstring path;
            if (BuildLogPath(component, logName, path)) {
                const int rotateCount = ReadLogSetting(component, logName, L"LogRotateCount", kDefaultRotateCount, &ignored);
                const int maxSizeKB = ReadLogSetting(component, logName, L"LogMaxSizeKB", kDefaultMaxSizeKB, &ignored);
                const DWORD maxSize = static_cast<DWORD>(maxSizeKB) * 1024u;
                if (config_->flags & LogFlagContinuous) {
                    writer_ = std::make_unique<FileAccessContinuous>(static_cast<unsigned>(rotateCount), maxSize,
                                                                     path.c_str(), CreateLowLevel(), CreateFileUtils());
                } else {
                    writer_ = std::make_unique<FileAccessTransient>(static_cast<unsigned>(rotateCount), maxSize,
                                                                    path.c_str(), CreateLowLevel(), CreateFileUtils());
                }
            }
        }
        config_->pending = false;
        markerLevel = MarkerLevel();
    }
    WriteStartMarker(markerLevel);
    for (const IgnoredSetting& setting : ignored) {
        Log(LogWarning, L"%s: value \"%s\" under HKLM\\%s is not a 4-byte REG_DWORD (type %lu, %lu bytes): ignored",
            kFunction, setting.value.c_str(), setting.key.c_str(), setting.type, setting.size);
    }
}

int Logger::MarkerLevel() const {
    return (config_ && (config_->flags & LogFlagQuietMarkers)) ? LogDebug : LogInfo;
}

void Logger::Log(int level, const wchar_t* format, ...) {
    if (!IsLevelEnabled(level)) return;
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

void Logger::LogV(int level, const wchar_t* format, va_list args) {
    if (!IsLevelEnabled(level)) return;
    kv::LastErrorKeeper keeper;
    size_t length = 0;
    std::unique_ptr<wchar_t[]> message = FormatMessageText(format, args, length);
    if (message) {
        WriteLine(level, message.get(), length);
    } else {
        Log(LogError, L"KV_QMT_LOG failure: too large message, format: %s", format);
    }
}

void Logger::WriteLine(int level, const wchar_t* message, size_t length) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t prefix[kMaxLinePrefixChars + 1];
    const size_t prefixLength = FormatLinePrefix(now, GetCurrentProcessId(), GetCurrentThreadId(), level, prefix);
    const size_t lineLength = prefixLength + length + 2;
    std::unique_ptr<wchar_t[]> line(new (std::nothrow) wchar_t[lineLength + 1]);
    if (!line) return;
    wmemcpy(line.get(), prefix, prefixLength);
    wmemcpy(line.get() + prefixLength, message, length);
    wmemcpy(line.get() + prefixLength + length, L"\r\n", 3);
    Deliver(level, line.get(), lineLength);
}

void Logger::Deliver(int level, const wchar_t* text, size_t length) {
    const wchar_t* const kFunction = L"KvQmtLogging::Logger::Deliver";
    ApplyConfiguration();
    if (!IsLevelEnabled(level)) return;
    if (debugOutput_) OutputDebugStringW(text);
    const DWORD bytes = static_cast<DWORD>(length * sizeof(wchar_t));
    std::unique_ptr<LogCopyFile> lostCopy;
    DWORD copyError = ERROR_SUCCESS;
    {
        LoggerLockHold lock(lock_, LockWait());
        if (!lock) {
            NoteLockMissed();
            return;
        }
        if (writer_) writer_->Write(text, bytes);
        if (copy_ && !copy_->Write(text, bytes)) {
            copyError = GetLastError();
            lostCopy = std::move(copy_);
        }
        lockStalled_ = false;
    }
    // Said once, in the main log only: the copy is given up.
    if (lostCopy) {
        Log(LogError, L"%s: The copy of this run's log '%s' cannot be written, error %lu; the lines go on into "
                      L"this log only",
            kFunction, lostCopy->Path().c_str(), copyError);
    }
}

DWORD Logger::CopyTo(const wchar_t* path) {
    kv::LastErrorKeeper keeper;
    DWORD error = ERROR_SUCCESS;
    std::unique_ptr<LogCopyFile> copy = LogCopyFile::Open(path, error);
    LoggerLockHold lock(lock_, LockWait());
    if (!lock) {
        NoteLockMissed();
        return ERROR_TIMEOUT;
    }
    copy_ = std::move(copy);
    return error;
}

void Logger::WriteStartMarker(int level) {
    DWORD sessionId = 0xDEADBEEF;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &sessionId)) sessionId = 0xDEADBEEF;
    TIME_ZONE_INFORMATION zone = {};
    const DWORD zoneResult = GetTimeZoneInformation(&zone);
    if (IsLevelEnabled(level)) Deliver(level, L"\r\n", 2);
    const bool zoneKnown = zoneResult != TIME_ZONE_ID_INVALID;
    const std::wstring marker = StartMarkerText(zoneKnown, zoneKnown ? UtcOffsetMinutes(zoneResult, zone) : 0, sessionId);
    Log(level, L"%s", marker.c_str());
}

void Logger::Close() {
    LoggerLockHold lock(lock_, LockWait());
    if (!lock) {
        NoteLockMissed();
        return;
    }
    writer_.reset();
    copy_.reset();
    if (config_) {
        config_->component.reset();
        config_->logName.reset();
        config_->defaultLevel = 0;
        config_->flags = 0;
        config_->pending = false;
    }
}

void Logger::EndLog() {
    kv::LastErrorKeeper keeper;
    // A deferred logger that never had a line has made no folder, file or
    // mutex; its end marker must not be the line that makes them.
    if (!DeferredAndUnused()) Log(MarkerLevel(), L"***  LOGGING ENDED  ***");
    Close();
}

bool Logger::DeferredAndUnused() {
    LoggerLockHold lock(lock_, LockWait());
    return lock && config_->pending && (config_->flags & LogFlagDeferOpen) != 0;
}

}  // namespace KvQmtLogging
