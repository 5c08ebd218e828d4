#pragma once
#include <windows.h>

#include <memory>
#include <string>

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
    virtual void DeleteLogFile(const wchar_t* path) = 0;
    // The first "<path>__delete_<n>" (n from 1 to 99) that does not exist.
    virtual std::wstring MakeDeleteName(const wchar_t* path);
    virtual void CreateParentDirectory(const wchar_t* path);

    // False when one of the folders from the maker's folder down to the log's
    // own folder, or the given file, is a junction or link: the writer then
    // creates, opens, moves and deletes nothing, so that a user who may
    // write in those folders cannot point it at a place of their choosing.
    bool PathIsSafe(const wchar_t* file);

    FileLowLevel& LowLevel() { return *lowLevel_; }
    FileUtils& Utils() { return *fileUtils_; }

private:
    kv::unique_handle mutex_;
    std::wstring path_;
    DWORD maxSize_;
    unsigned rotateCount_;
    std::unique_ptr<FileLowLevel> lowLevel_;
    std::unique_ptr<FileUtils> fileUtils_;
};

// The machine-wide mutex of one log file, made so that every user's
// processes may take it.
kv::unique_handle CreateLogMutex(const wchar_t* name);

}  // namespace KvQmtLogging
