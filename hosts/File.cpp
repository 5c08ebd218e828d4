#include "hosts/File.h"

#include "common/NoWaitFileOpen.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

int File::content(LineList& lines) const {
    const wchar_t* const kFunction = L"File::content";
    // Users may read the file and hold an opportunistic lock on it without
    // ever acknowledging its break. Opened without waiting, and held while
    // the stream reads, this handle leaves no one a lock whose break the
    // stream's own open would wait for.
    kv::NoWaitOpen request;
    request.name = path_.c_str();
    request.access = GENERIC_READ;
    request.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    request.kind = kv::OpenKind::NotFolder;
    const kv::unique_hfile held = kv::OpenWithoutWaiting(request);
    if (!held) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s cannot be opened for reading (error %lu)", kFunction,
                   path_.c_str(), ::GetLastError());
        return 1;
    }
    // Text mode stops reading at a 0x1A byte. A rewrite of what was read
    // would silently drop everything behind it, so such a file is not taken.
    if (hasTextAfterEndOfFileMark(held.get())) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s holds text after an end-of-file mark (0x1A), not read",
                   kFunction, path_.c_str());
        return 2;
    }
    std::wfstream stream(path_.c_str(), std::ios::in);
    LogMessage(KvQmtLogging::LogDebug, L"%s: Opening for reading: %s", kFunction, path_.c_str());
    FileReaderWriter reader(stream);
    const int result = reader.read(lines);
    stream.close();
    return result;
}

int File::setContent(const LineList& lines) const {
    const wchar_t* const kFunction = L"File::setContent";
    std::wfstream stream(path_.c_str(), std::ios::out | std::ios::trunc);
    LogMessage(KvQmtLogging::LogDebug, L"%s: Opening for writing: %s", kFunction, path_.c_str());
    FileReaderWriter writer(stream);
    const int result = writer.write(lines);
    stream.close();
    // The close writes what is still buffered: its failure is a failed write.
    if (result == 0 && stream.fail()) {
        LogMessage(KvQmtLogging::LogError, L"%s: Closing %s has failed!", kFunction, path_.c_str());
        return 3;
    }
    return result;
}

bool File::hasAttribute(DWORD bit) const {
    const DWORD attributes = ::GetFileAttributesW(path_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & bit) != 0;
}

bool File::setAttribute(bool on, DWORD bit) const {
    const DWORD attributes = ::GetFileAttributesW(path_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD changed = on ? (attributes | bit) : (attributes & ~bit);
    return ::SetFileAttributesW(path_.c_str(), changed) != FALSE;
}

bool File::hasTextAfterEndOfFileMark(HANDLE file) const {
    bool markSeen = false;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            if (markSeen) return true;
            if (buffer[i] == '\x1a') markSeen = true;
        }
    }
    return false;
}
