#include "product/TextFileIo.h"

#include <windows.h>

#include <new>

#include "common/FileReplacement.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

std::string ReadTextFile(const std::wstring& path) {
    const wchar_t* const kFunction = L"ReadTextFile";
    kv::unique_hfile file;
    for (int attempt = 0; attempt < kFileOpenAttempts && !file; ++attempt) {
        file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: Cannot open %s with error %d, sleeping a bit and retry",
                       kFunction, path.c_str(), static_cast<int>(::GetLastError()));
            ::Sleep(kFileOpenRetryDelayMs);
        }
    }
    if (!file) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", kFunction, path.c_str());
        return std::string();
    }

    // A cache of 4 GB or more is no cache this program can edit.
    DWORD high = 0;
    const DWORD size = ::GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Size is unknown, exiting", kFunction);
        return std::string();
    }
    std::string content;
    try {
        content.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Cannot hold %lu bytes, exiting", kFunction, size);
        return std::string();
    }
    DWORD offset = 0;
    while (offset < size) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), &content[offset], size - offset, &read, nullptr) || read == 0) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Reading from file failed with error=%d, exiting", kFunction,
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
    const wchar_t* const kFunction = L"WriteContentToFile";
    if (content.size() > 0xFFFFFFF0u) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to write to file '%s' LastError: %d ", kFunction,
                   path.c_str(), static_cast<int>(ERROR_FILE_TOO_LARGE));
        return false;
    }
    // The cache keeps its own access list, owner and hidden and system
    // attributes: the product protects it, and an edit must not undo that.
    kv::FileReplacement replacement(path);
    if (const DWORD error = replacement.Prepare()) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: %s beside %s failed with error %d", kFunction,
                   replacement.FailedCall(), path.c_str(), static_cast<int>(error));
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", kFunction, path.c_str());
        return false;
    }
    if (const DWORD error = replacement.Write(content)) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to write to file '%s' LastError: %d ", kFunction,
                   replacement.TemporaryPath().c_str(), static_cast<int>(error));
        return false;
    }

    // The replacement is what needs the cache itself: it fails while a
    // service holds the file open, and that is what the retries wait out.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kFileOpenAttempts; ++attempt) {
        error = replacement.Commit();
        if (!error) break;
        LogMessage(KvQmtLogging::LogInfo,
                   L"%s: Cannot open %s for writing with error %d (%s), sleeping a bit and retry", kFunction,
                   path.c_str(), static_cast<int>(error), replacement.FailedCall());
        ::Sleep(kFileOpenRetryDelayMs);
    }
    if (error) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Failed to open %s, exiting", kFunction, path.c_str());
        return false;
    }
    if (!replacement.OwnerKept()) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: The former owner of %s could not be put back", kFunction,
                   path.c_str());
    }
    LogMessage(KvQmtLogging::LogInfo, L"%s: File written to disk: %s", kFunction, path.c_str());
    return true;
}
