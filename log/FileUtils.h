#pragma once
#include <windows.h>

namespace KvQmtLogging {

// The file-system operations of the log writer, replaceable as a whole.
class FileUtils {
public:
    virtual ~FileUtils() = default;
    virtual bool FileExists(const wchar_t* path) = 0;
    virtual bool RemoveFile(const wchar_t* path) = 0;
    virtual bool RenameFile(const wchar_t* from, const wchar_t* to) = 0;
    // The attributes are given to the last folder only; the folders above it
    // that are missing get the descriptor they inherit.
    virtual bool CreateDirectoryRecursive(const wchar_t* path, SECURITY_ATTRIBUTES* attributes) = 0;
    virtual bool DirectoryExists(const wchar_t* path) = 0;
    // A junction, a symbolic link or any other reparse point.
    virtual bool IsReparsePoint(const wchar_t* path) = 0;
};

class FileUtilsWin32 : public FileUtils {
public:
    bool FileExists(const wchar_t* path) override;
    bool RemoveFile(const wchar_t* path) override;
    bool RenameFile(const wchar_t* from, const wchar_t* to) override;
    bool CreateDirectoryRecursive(const wchar_t* path, SECURITY_ATTRIBUTES* attributes) override;
    bool DirectoryExists(const wchar_t* path) override;
    bool IsReparsePoint(const wchar_t* path) override;
};

}  // namespace KvQmtLogging
