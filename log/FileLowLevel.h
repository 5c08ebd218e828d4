#pragma once
#include <windows.h>

#include <cstdint>

#include "common/UniqueHandle.h"
#include "common/SddlSecurityAttributes.h"

namespace KvQmtLogging {

// One open log file: UTF-16LE with a byte-order mark, appended to at its end.
class FileLowLevel {
public:
    FileLowLevel();
    virtual ~FileLowLevel();
    FileLowLevel(const FileLowLevel&) = delete;
    FileLowLevel& operator=(const FileLowLevel&) = delete;

    // Opens or creates the file `name` in the held folder.
    virtual bool Open(HANDLE folder, const wchar_t* name);
    virtual void Close();
    virtual bool Write(const void* data, DWORD byteCount);
    virtual uint64_t GetSize();
    virtual bool SeekToEnd();
    virtual bool HasForeignContent();
    virtual bool IsOpen();
    virtual bool PrepareAfterOpen();

private:
    bool IsPlainFileNamed(HANDLE folder, const wchar_t* name);
    bool CreateNew(HANDLE folder, const wchar_t* name);

    uint64_t position_ = 0;
    kv::unique_hfile handle_;
    bool foreign_ = false;
    kv::SddlSecurityAttributes security_;
};

}  // namespace KvQmtLogging
