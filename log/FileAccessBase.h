#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "log/FileLowLevel.h"
#include "log/FileUtils.h"

namespace KvQmtLogging {

// The policy side of a log file: when to open, rotate and lock. Owns the
// low-level file and the file-system operations it is given.
class FileAccessBase {
public:
    FileAccessBase(unsigned rotateCount, DWORD maxSize, const wchar_t* path,
                   std::unique_ptr<FileLowLevel> lowLevel, std::unique_ptr<FileUtils> fileUtils);
    virtual ~FileAccessBase();
    FileAccessBase(const FileAccessBase&) = delete;
    FileAccessBase& operator=(const FileAccessBase&) = delete;

    // Appends one line; a line that cannot be written is lost silently.
    virtual void Write(const void* data, DWORD byteCount) = 0;

    unsigned RotateCount() const { return rotateCount_; }
    DWORD MaxSize() const { return maxSize_; }
    HANDLE Mutex() const { return mutex_.get(); }

protected:
    virtual void Rotate();
    virtual void EnsureOpen();
    virtual bool NeedsRotation();
    // Removes the file of that name in the log's folder.
    virtual void DeleteLogFile(const wchar_t* name) = 0;
    // The first "<name>__delete_<n>" (n from 1 to 99) that does not exist.
    virtual std::wstring MakeDeleteName(const wchar_t* name);
    // Opens, and makes where missing, the folders from the maker's folder
    // down to the log's own and holds them all (FileUtils::OpenFolder) for
    // as long as the writer lives, so that every later step acts in them
    // whatever a user does to their paths. False when one of them is a link
    // or cannot be had: the writer then creates, opens, moves and deletes
    // nothing.
    virtual bool CreateParentDirectory();

    // The held log folder (valid only after CreateParentDirectory gave true)
    // and the log file's name in it.
    HANDLE LogFolder() const;
    const std::wstring& FileName() const { return fileName_; }

    FileLowLevel& LowLevel() { return *lowLevel_; }
    FileUtils& Utils() { return *fileUtils_; }

private:
    kv::unique_handle mutex_;
    std::wstring path_;
    std::wstring fileName_;
    DWORD maxSize_;
    unsigned rotateCount_;
    std::unique_ptr<FileLowLevel> lowLevel_;
    std::unique_ptr<FileUtils> fileUtils_;
    // The maker's folder, "logs" and the log's own folder, in that order.
    std::vector<kv::unique_hfile> heldFolders_;
};

// The machine-wide mutex of one log file, made so that every user's
// processes may take it.
kv::unique_handle CreateLogMutex(const wchar_t* name);

}  // namespace KvQmtLogging
