#pragma once
// Real files for tests: whole-file reads and writes, the Windows path of a
// file the build names by its Unix path, and the prefix's common folders.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/UniqueHandle.h"

namespace testsupport {

// The build gives Unix paths; Wine maps the Unix root to drive Z:.
inline std::wstring WindowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c) path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// The common application-data folder, where the product keeps its logs and its package cache.
inline std::wstring CommonAppData() {
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

// Whether anything, only a file, or only a folder is at the path.
inline bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
inline bool IsOfKind(const std::wstring& path, bool directory) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directory;
}
inline bool FileExists(const std::wstring& path) { return IsOfKind(path, false); }
inline bool DirectoryExists(const std::wstring& path) { return IsOfKind(path, true); }

// Whether the file appears within the time, looked for every 50 ms.
inline bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (Exists(path)) return true;
        ::Sleep(50);
    }
    return false;
}

// Exactly the bytes, replacing whatever the file held; false unless all were written.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    kv::unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Empty, with exists false, when the file cannot be read.
inline std::string ReadBytes(const std::wstring& path, bool* exists = nullptr) {
    kv::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (exists) *exists = static_cast<bool>(file);
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

}  // namespace testsupport
