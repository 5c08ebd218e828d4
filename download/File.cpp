#include "download/File.h"

#include "download/Win32ErrorText.h"
#include "log/KvQmtLog.h"

namespace QmtDownload {

namespace {

using KvQmtLogging::LogDebug;
using KvQmtLogging::LogError;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

bool IsZero(const FILETIME& time) { return time.dwLowDateTime == 0 && time.dwHighDateTime == 0; }

}  // namespace

bool FileExists(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsOlder(const SYSTEMTIME& serverTime, const FILETIME& localTime) {
    if (IsZero(localTime) || serverTime.wYear == 0) return false;
    FILETIME server = {};
    if (!::SystemTimeToFileTime(&serverTime, &server)) return false;
    return ::CompareFileTime(&localTime, &server) < 0;
}

File::File(const wchar_t* path, SECURITY_ATTRIBUTES* security)
    : path_(path ? path : L""), metaPath_(path_ + L".dl"), security_(security) {}

File::File(const wchar_t* path, Created created)
    : path_(path ? path : L""), metaPath_(path_ + L".dl"), security_(nullptr), handle_(created.handle), fresh_(true) {
    if (handle_) SeekToEnd();
}

DWORD File::OpenIfExists() { return FileExists(path_.c_str()) ? EnsureOpen() : ERROR_SUCCESS; }

DWORD File::EnsureOpen() {
    const wchar_t* const kFunction = L"QmtDownload::File::EnsureOpen";
    if (handle_) return ERROR_SUCCESS;
    // A fresh download writes only into the handle it was given.
    if (fresh_) return ERROR_INVALID_HANDLE;
    const bool existed = FileExists(path_.c_str());
    handle_.reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, security_, OPEN_ALWAYS,
                                0, nullptr));
    if (!handle_) {
        const DWORD error = ::GetLastError();
        LogMessage(LogError, L"%s: CreateFile(%s) failed: %s", kFunction, path_.c_str(),
                   FormatWin32Error(error).c_str());
        return error;
    }
    if (!existed) {
        expectedSize_ = kNoSize;
        return ERROR_SUCCESS;
    }
    return CalculateSizes();
}

DWORD File::SeekToEnd() {
    const wchar_t* const kFunction = L"QmtDownload::SeekToEnd";
    LARGE_INTEGER position = {};
    if (!::SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, &position, FILE_END)) {
        const DWORD error = ::GetLastError();
        LogMessage(LogError, L"%s: SetFilePointerEx failed: %s", kFunction, FormatWin32Error(error).c_str());
        return error;
    }
    if (position.QuadPart >= static_cast<LONGLONG>(kNoSize)) {
        // Its low half alone would pass for a much smaller file.
        LogMessage(LogError, L"%s: '%s' is 4 GiB or larger, not supported", kFunction, path_.c_str());
        return ERROR_FILE_TOO_LARGE;
    }
    currentSize_ = position.LowPart;
    return ERROR_SUCCESS;
}

DWORD File::CalculateSizes() {
    const wchar_t* const kFunction = L"QmtDownload::File::CalculateSizes";
    const DWORD error = SeekToEnd();
    expectedSize_ = currentSize_;
    if (FileExists(metaPath_.c_str())) {
        expectedSize_ = GetSizeFromMetafile();
        // Unsigned: an unreadable metafile (no size) never empties the file.
        if (currentSize_ > expectedSize_) {
            LogMessage(LogWarning, L"%s: File is larger than expected, resetting", kFunction);
            Reset(kNoSize);
        }
    }
    LogMessage(LogDebug, L"%s: Current size: %lu, expected full size: %lu", kFunction, currentSize_, expectedSize_);
    return error;
}

DWORD File::GetSizeFromMetafile() const {
    const wchar_t* const kFunction = L"QmtDownload::File::GetSizeFromMetafile";
    kv::unique_hfile meta(
        ::CreateFileW(metaPath_.c_str(), GENERIC_READ, 0, security_, OPEN_EXISTING, 0, nullptr));
    if (!meta) return kNoSize;
    DWORD value = kNoSize;
    DWORD read = 0;
    if (!::ReadFile(meta.get(), &value, sizeof(value), &read, nullptr)) {
        LogMessage(LogError, L"%s: Failed to read expected size from metafile '%s': %s", kFunction, metaPath_.c_str(),
                   FormatWin32Error(::GetLastError()).c_str());
        return kNoSize;
    }
    // A short metafile fills only the low bytes; the rest keep their FF.
    return value;
}

void File::SetSizeToMetaFile(DWORD size) const {
    const wchar_t* const kFunction = L"QmtDownload::File::SetSizeToMetaFile";
    kv::unique_hfile meta(
        ::CreateFileW(metaPath_.c_str(), GENERIC_WRITE, 0, security_, CREATE_ALWAYS, 0, nullptr));
    if (!meta) {
        LogMessage(LogError, L"%s: Metafile CreateFile(%s) failed: %s", kFunction,
                   metaPath_.c_str(), FormatWin32Error(::GetLastError()).c_str());
        return;
    }
    DWORD written = 0;
    if (!::WriteFile(meta.get(), &size, sizeof(size), &written, nullptr) || written != sizeof(size)) {
        LogMessage(LogError, L"%s: Metafile WriteFile(%s) failed: %s", kFunction,
                   metaPath_.c_str(), FormatWin32Error(::GetLastError()).c_str());
    }
}

void File::DeleteMetaFile() const {
    // Logs under the name of its caller, QmtDownload::File::FinishWriting.
    const wchar_t* const kFunction = L"QmtDownload::File::FinishWriting";
    if (FileExists(metaPath_.c_str()) && !::DeleteFileW(metaPath_.c_str())) {
        LogMessage(LogError, L"%s: DeleteFile(%s) failed: %s", kFunction,
                   metaPath_.c_str(), FormatWin32Error(::GetLastError()).c_str());
    }
}

DWORD File::TruncateFile() {
    const wchar_t* const kFunction = L"QmtDownload::TruncateFile";
    if (!::SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        const DWORD error = ::GetLastError();
        LogMessage(LogError, L"%s: SetFilePointerEx failed: %s", kFunction, FormatWin32Error(error).c_str());
        return error;
    }
    if (!::SetEndOfFile(handle_.get())) {
        const DWORD error = ::GetLastError();
        LogMessage(LogError, L"%s: SetEndOfFile failed: %s", kFunction, FormatWin32Error(error).c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD File::Reset(DWORD expected) {
    const DWORD openError = EnsureOpen();
    if (openError != ERROR_SUCCESS) return openError;
    const DWORD error = TruncateFile();
    currentSize_ = 0;
    expectedSize_ = expected;
    return error;
}

DWORD File::WriteData(const void* data, DWORD count) {
    const wchar_t* const kFunction = L"QmtDownload::File::WriteData";
    // Sizes are 32-bit and 0xFFFFFFFF means "none": a body that would pass
    // 0xFFFFFFFE bytes is refused before it wraps into a small, wrong size.
    const DWORD current = currentSize_ == kNoSize ? 0 : currentSize_;
    if (count > kNoSize - 1 - current) {
        LogMessage(LogError, L"%s: WriteFile(%s) refused: %lu more bytes after %lu pass the 4 GiB limit",
                   kFunction, path_.c_str(), count, current);
        return ERROR_FILE_TOO_LARGE;
    }
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (!::WriteFile(handle_.get(), data, count, &written, nullptr)) {
        error = ::GetLastError();
        LogMessage(LogError, L"%s: WriteFile(%s) failed: %s", kFunction, path_.c_str(),
                   FormatWin32Error(error).c_str());
    } else if (written != count) {
        error = ERROR_DISK_FULL;
        LogMessage(LogError, L"%s: WriteFile(%s) wrote %lu of %lu bytes", kFunction, path_.c_str(), written, count);
    }
    currentSize_ = current + written;
    // Counted over every attempt of one download, so it saturates instead of wrapping.
    sessionBytes_ = written > kNoSize - 1 - sessionBytes_ ? kNoSize - 1 : sessionBytes_ + written;
    return error;
}

void File::MarkIncomplete() {
    if (!fresh_ && expectedSize_ != kNoSize && expectedSize_ != currentSize_) SetSizeToMetaFile(expectedSize_);
}

void File::FinishWriting(bool success) {
    const wchar_t* const kFunction = L"QmtDownload::File::FinishWriting";
    if (success && expectedSize_ == kNoSize) expectedSize_ = currentSize_;
    if (fresh_) {
        // Nothing beside the caller's file is created or removed.
    } else if (expectedSize_ == currentSize_) {
        DeleteMetaFile();
    } else {
        SetSizeToMetaFile(expectedSize_);
    }
    if (handle_) {
        LogMessage(LogDebug, L"%s: Finished with %lu/%lu bytes", kFunction, currentSize_, expectedSize_);
        handle_.reset();
    }
}

FILETIME File::GetLastModified() const {
    const wchar_t* const kFunction = L"QmtDownload::File::GetLastModified";
    FILETIME written = {};
    if (!handle_) return written;
    if (!::GetFileTime(handle_.get(), nullptr, nullptr, &written)) {
        LogMessage(LogError, L"%s: Getting file time failed: %s", kFunction,
                   FormatWin32Error(::GetLastError()).c_str());
        return FILETIME{};
    }
    return written;
}

}  // namespace QmtDownload
