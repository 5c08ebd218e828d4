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

// The final path the object at path should have when none of its last
// `named` components is a link: the final path of the folder above them and
// those components as written. Empty when that folder cannot be looked at.
std::wstring ExpectedFinalPath(const std::wstring& path, int named) {
    size_t separator = path.size();
    for (int i = 0; i < named; ++i) {
        separator = separator == 0 ? std::wstring::npos : path.rfind(L'\\', separator - 1);
        if (separator == std::wstring::npos) return std::wstring();
    }
    if (separator + 1 >= path.size() || path.back() == L'\\') return std::wstring();
    std::wstring folder = path.substr(0, separator);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    kv::unique_hfile handle = OpenForIdentity(folder);
    if (!handle) return std::wstring();
    std::wstring expected = FinalPathOf(handle.get());
    if (expected.empty()) return expected;
    if (expected.back() != L'\\') expected += L'\\';
    return expected + path.substr(separator + 1);
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

bool HandleIsAt(HANDLE handle, const wchar_t* path, int namedComponents) {
    const std::wstring expected = ExpectedFinalPath(path, namedComponents);
    return !expected.empty() && SameText(FinalPathOf(handle), expected);
}

bool IsReachedThroughLink(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    kv::unique_hfile handle = OpenForIdentity(path);
    // What cannot even be looked at is not trusted either.
    return !handle || !HandleIsAt(handle.get(), path, 1);
}

}  // namespace KvQmtLogging
