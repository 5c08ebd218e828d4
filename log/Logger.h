#pragma once
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <memory>

#include "log/FileAccessBase.h"
#include "log/FileLowLevel.h"
#include "log/FileUtils.h"
#include "log/KvQmtLog.h"
#include "log/LogCopyFile.h"
#include "log/LoggerConfig.h"
#include "log/LoggerLock.h"

namespace KvQmtLogging {

// A levelled writer of UTF-16 lines into one shared, rotated log file. The
// level test needs no lock; the writer and the configuration are guarded by
// a lock that no log call waits for longer than a short bound: a line that
// cannot have it in time is lost, as when the file's mutex is not had.
class Logger {
public:
    Logger();
    virtual ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Once per logger; later calls change nothing while a writer exists.
    void Configure(unsigned flags, const wchar_t* component, const wchar_t* logName);

    void LogV(int level, const wchar_t* format, va_list args);
    void Log(int level, const wchar_t* format, ...);

    // Writes the end marker and closes the file (a deferred logger that
    // never had a message is only closed).
    void EndLog();
    void Close();

    // Every line from now on also goes to the file at path, created or
    // emptied, in this log's format. ERROR_SUCCESS, or the error that kept
    // the file from being had (the caller reports it: the logger may not be
    // configured yet).
    DWORD CopyTo(const wchar_t* path);

    bool IsLevelEnabled(int level) const { return level <= level_.load(std::memory_order_relaxed); }
    int Level() const { return level_.load(std::memory_order_relaxed); }

protected:
    // The file writer's parts; a test may hand other implementations in.
    virtual std::unique_ptr<FileLowLevel> CreateLowLevel();
    virtual std::unique_ptr<FileUtils> CreateFileUtils();

private:
    void ApplyConfiguration();
    void WriteLine(int level, const wchar_t* message, size_t length);
    void Deliver(int level, const wchar_t* text, size_t length);
    void WriteStartMarker(int level);
    int MarkerLevel() const;
    bool DeferredAndUnused();
    // How long a caller waits for the lock: nothing while another thread
    // has been seen stuck with it.
    DWORD LockWait() const;
    void NoteLockMissed();

    std::atomic<int> level_{0};
    std::unique_ptr<FileAccessBase> writer_;
    std::atomic<bool> debugOutput_{false};
    LoggerLock lock_;
    std::atomic<bool> lockStalled_{false};
    std::unique_ptr<LoggerConfig> config_;
    std::unique_ptr<LogCopyFile> copy_;
};

}  // namespace KvQmtLogging
