#pragma once
// The second file of a run's lines, asked for on the command line: one
// writer, this process, from the start of the run to its end. It begins
// empty with the log's byte-order mark and takes the same UTF-16 lines as
// the main log; nothing rotates it.
#include <windows.h>

#include <memory>
#include <string>

#include "common/UniqueHandle.h"

namespace KvQmtLogging {

class LogCopyFile {
public:
    // Creates the file, or empties the one there. A link or a second name of
    // a file elsewhere in its place is refused before anything is written:
    // the folder may be one a user can write, and the run may be SYSTEM's.
    // Null with error set when the file cannot be had.
    static std::unique_ptr<LogCopyFile> Open(const wchar_t* path, DWORD& error);

    // False with the thread's last error set when the bytes were not all written.
    bool Write(const void* data, DWORD byteCount);
    const std::wstring& Path() const { return path_; }

private:
    LogCopyFile(kv::unique_hfile file, std::wstring path) : file_(std::move(file)), path_(std::move(path)) {}

    kv::unique_hfile file_;
    std::wstring path_;
};

}  // namespace KvQmtLogging
