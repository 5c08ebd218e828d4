#pragma once
#include "log/FileAccessBase.h"

namespace KvQmtLogging {

// A log file shared by several processes: each line is appended at the
// current end of the file under the file's machine-wide mutex.
class FileAccessTransient : public FileAccessBase {
public:
    using FileAccessBase::FileAccessBase;

    void Write(const void* data, DWORD byteCount) override;

    // How long a line waits for the other writers before it is dropped.
    static const DWORD kMutexWaitMs = 500;

protected:
    void DeleteLogFile(const wchar_t* name) override;
};

}  // namespace KvQmtLogging
