#include "log/PathIdentity.h"

#include <vector>

#include "common/UniqueHandle.h"

namespace KvQmtLogging {

namespace {

kv::unique_hfile OpenForIdentity(const std::wstring& path) {
    // No data access: only the name is asked for, so a file that another
    // process holds without sharing can still be looked at.
    return kv::unique_hfile(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= buffer.size()) return std::wstring();
    std::wstring path(buffer.data(), length);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool IsNamedIn(HANDLE opened, HANDLE folder, const wchar_t* name) {
    std::wstring expected = FinalPathOf(folder);
    // What cannot even be looked at is not trusted either.
    if (expected.empty()) return false;
    if (expected.back() != L'\\') expected += L'\\';
    expected += name;
    return SameText(FinalPathOf(opened), expected);
}

bool IsAtPath(HANDLE opened, const wchar_t* path) {
    const std::wstring text(path);
    const size_t separator = text.rfind(L'\\');
    if (separator == std::wstring::npos || separator + 1 >= text.size()) return false;
    std::wstring folder = text.substr(0, separator);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    const kv::unique_hfile handle = OpenForIdentity(folder);
    return handle && IsNamedIn(opened, handle.get(), text.c_str() + separator + 1);
}

bool IsReachedThroughLink(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    const kv::unique_hfile handle = OpenForIdentity(path);
    // What cannot even be looked at is not trusted either.
    return !handle || !IsAtPath(handle.get(), path);
}

}  // namespace KvQmtLogging
