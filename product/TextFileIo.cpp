#include "TextFileIo.h"

#include <windows.h>

#include <new>

#include "KvQmtLog.h"
#include "UniqueHandle.h"

using KvQmtLogging::LogMessage;

namespace {

constexpr DWORD kWriteChunk = 1u << 20;

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

// Writes every byte, or gives false with the error in the thread's
// last-error value: a call that writes fewer bytes is continued, one that
// writes none is a failure.
bool WriteAll(HANDLE file, const std::string& content) {
    size_t offset = 0;
    while (offset < content.size()) {
        const size_t remaining = content.size() - offset;
        const DWORD request = remaining < kWriteChunk ? static_cast<DWORD>(remaining) : kWriteChunk;
        DWORD written = 0;
        if (!::WriteFile(file, content.data() + offset, request, &written, nullptr)) return false;
        if (written == 0 || written > request) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        offset += written;
    }
    return true;
}

}  // namespace

std::string ReadTextFile(const std::wstring& path) {
    const wchar_t* const function = L"ReadTextFile";
    kv::unique_hfile file;
    for (int attempt = 0; attempt < kFileOpenAttempts && !file; ++attempt) {
        file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: Cannot open %s with error %d, sleeping a bit and retry",
                       function, path.c_str(), static_cast<int>(::GetLastError()));
            ::Sleep(kFileOpenRetryDelayMs);
        }
    }
    if (!file) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", function, path.c_str());
        return std::string();
    }

    // A cache of 4 GB or more is no cache this program can edit.
    DWORD high = 0;
    const DWORD size = ::GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Size is unknown, exiting", function);
        return std::string();
    }
    std::string content;
    try {
        content.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Cannot hold %lu bytes, exiting", function, size);
        return std::string();
    }
    DWORD offset = 0;
    while (offset < size) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), &content[offset], size - offset, &read, nullptr) || read == 0) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Reading from file failed with error=%d, exiting", function,
                       static_cast<int>(::GetLastError()));
            return std::string();
        }
        offset += read;
    }
    // Zero bytes are content too: everything after one would be lost when the
    // edited content is written back.
    return content;
}

bool WriteContentToFile(const std::wstring& path, const std::string& content) {
    const wchar_t* const function = L"WriteContentToFile";
    if (content.size() > 0xFFFFFFF0u) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to write to file '%s' LastError: %d ", function,
                   path.c_str(), static_cast<int>(ERROR_FILE_TOO_LARGE));
        return false;
    }
    wchar_t temporary[MAX_PATH] = {};
    if (::GetTempFileNameW(FolderOf(path).c_str(), L"pkg", 0, temporary) == 0) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: GetTempFileNameW beside %s failed with error %d", function,
                   path.c_str(), static_cast<int>(::GetLastError()));
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", function, path.c_str());
        return false;
    }
    {
        kv::unique_hfile file(::CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_FLAG_WRITE_THROUGH, nullptr));
        if (!file) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Cannot open %s for writing with error %d", function,
                       temporary, static_cast<int>(::GetLastError()));
            LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", function, path.c_str());
            ::DeleteFileW(temporary);
            return false;
        }
        if (!WriteAll(file.get(), content)) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to write to file '%s' LastError: %d ", function,
                       path.c_str(), static_cast<int>(::GetLastError()));
            file.reset();
            ::DeleteFileW(temporary);
            return false;
        }
        if (!::FlushFileBuffers(file.get())) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to flush file. LastError: %d", function,
                       static_cast<int>(::GetLastError()));
        }
    }

    // The replacement is what needs the cache itself: it fails while a
    // service holds the file open, and that is what the retries wait out.
    bool replaced = false;
    for (int attempt = 0; attempt < kFileOpenAttempts && !replaced; ++attempt) {
        replaced = ::MoveFileExW(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (!replaced) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: Cannot open %s for writing with error %d, sleeping a bit and retry",
                       function, path.c_str(), static_cast<int>(::GetLastError()));
            ::Sleep(kFileOpenRetryDelayMs);
        }
    }
    if (!replaced) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", function, path.c_str());
        ::DeleteFileW(temporary);
        return false;
    }
    LogMessage(KvQmtLogging::LogInfo, L"%s: File written to disk: %s", function, path.c_str());
    return true;
}
