#include "log/FileUtils.h"
#include "log/PathIdentity.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace KvQmtLogging {

bool FileUtilsWin32::FileExists(const wchar_t* path) {
    struct _stat info;
    return _wstat(path, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

bool FileUtilsWin32::RemoveFile(const wchar_t* path) {
    // A file held open without delete sharing stays where it is. It is not
    // left to be deleted at the next restart: that delete would run without
    // the link checks, in a folder every account can write, so whoever put
    // a junction there by then would choose what an elevated run deletes.
    return DeleteFileW(path) != FALSE;
}

bool FileUtilsWin32::RenameFile(const wchar_t* from, const wchar_t* to) {
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool FileUtilsWin32::CreateDirectoryRecursive(const wchar_t* path, SECURITY_ATTRIBUTES* attributes) {
    if (DirectoryExists(path)) return true;
    const std::wstring folder(path);
    const size_t lastSeparator = folder.rfind(L'\\');
    if (lastSeparator != std::wstring::npos && lastSeparator != 0) {
        if (!CreateDirectoryRecursive(folder.substr(0, lastSeparator).c_str(), nullptr)) return false;
    }
    return CreateDirectoryW(path, attributes) != FALSE;
}

bool FileUtilsWin32::DirectoryExists(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileUtilsWin32::IsReparsePoint(const wchar_t* path) { return IsReachedThroughLink(path); }

}  // namespace KvQmtLogging
