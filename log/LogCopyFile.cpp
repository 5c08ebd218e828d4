#include "log/LogCopyFile.h"

#include <vector>

#include "log/LogFormat.h"
#include "log/PathIdentity.h"

namespace KvQmtLogging {

namespace {

std::wstring FullPath(const wchar_t* path) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = ::GetFullPathNameW(path, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = ::GetFullPathNameW(path, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (length == 0 || length >= buffer.size()) return std::wstring();
    return std::wstring(buffer.data(), length);
}

// One ordinary file at the name as written: not a link, a junction or a
// folder, and no second name of a file elsewhere (a hard link).
bool IsPlainFileAt(HANDLE file, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information)) return false;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    return (information.dwFileAttributes & refused) == 0 && information.nNumberOfLinks <= 1 &&
           IsAtPath(file, path.c_str());
}

}  // namespace

std::unique_ptr<LogCopyFile> LogCopyFile::Open(const wchar_t* path, DWORD& error) {
    const std::wstring full = FullPath(path);
    if (full.empty()) {
        error = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_INVALID_NAME;
        return nullptr;
    }
    // Opened as it is, without following a link in its place, and emptied
    // only once it is known to be the file named.
    kv::unique_hfile file(::CreateFileW(full.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        error = ::GetLastError();
        return nullptr;
    }
    if (!IsPlainFileAt(file.get(), full)) {
        error = ERROR_CANT_ACCESS_FILE;
        return nullptr;
    }
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) {
        error = ::GetLastError();
        return nullptr;
    }
    std::unique_ptr<LogCopyFile> copy(new LogCopyFile(std::move(file), full));
    if (!copy->Write(kByteOrderMark, sizeof(kByteOrderMark))) {
        error = ::GetLastError();
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return copy;
}

bool LogCopyFile::Write(const void* data, DWORD byteCount) {
    DWORD written = 0;
    if (!::WriteFile(file_.get(), data, byteCount, &written, nullptr)) return false;
    if (written == byteCount) return true;
    ::SetLastError(ERROR_WRITE_FAULT);
    return false;
}

}  // namespace KvQmtLogging
