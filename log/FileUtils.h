#pragma once
#include <windows.h>

#include "common/UniqueHandle.h"

namespace KvQmtLogging {

// The file-system operations of the log writer, replaceable as a whole. Files
// are named by one name inside a folder that OpenFolder holds, so that no
// change to the paths above it can send an operation elsewhere; links are
// never followed, moved or deleted.
class FileUtils {
public:
    virtual ~FileUtils() = default;
    // A plain file (no folder, no link) of that name is in the folder.
    virtual bool FileExists(HANDLE folder, const wchar_t* name) = 0;
    virtual bool RemoveFile(HANDLE folder, const wchar_t* name) = 0;
    // Replaces a file of the new name in the same folder.
    virtual bool RenameFile(HANDLE folder, const wchar_t* from, const wchar_t* to) = 0;
    // The folder `name` inside the held folder `parent`, made with the
    // attributes when missing, and held: opened without delete sharing, so
    // that neither it nor a folder above it can be renamed, removed or
    // swapped for a link while the handle is open. Invalid when it cannot be
    // had or is a link. Without a parent, `name` is the absolute path of an
    // existing folder above the guarded ones, opened as it is.
    virtual kv::unique_hfile OpenFolder(HANDLE parent, const wchar_t* name, SECURITY_ATTRIBUTES* attributes) = 0;
    // A junction, a mount point, a symbolic link or any other reparse point.
    virtual bool IsLink(HANDLE opened) = 0;
};

class FileUtilsWin32 : public FileUtils {
public:
    bool FileExists(HANDLE folder, const wchar_t* name) override;
    bool RemoveFile(HANDLE folder, const wchar_t* name) override;
    bool RenameFile(HANDLE folder, const wchar_t* from, const wchar_t* to) override;
    kv::unique_hfile OpenFolder(HANDLE parent, const wchar_t* name, SECURITY_ATTRIBUTES* attributes) override;
    bool IsLink(HANDLE opened) override;

private:
    kv::unique_hfile OpenFileIn(HANDLE folder, const wchar_t* name, DWORD access);
};

}  // namespace KvQmtLogging
