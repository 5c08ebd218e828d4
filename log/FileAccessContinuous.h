#pragma once
#include "log/FileAccessBase.h"

namespace KvQmtLogging {

// A log file with one writer, this process: no mutex and no seek per line.
class FileAccessContinuous : public FileAccessBase {
public:
    using FileAccessBase::FileAccessBase;

    void Write(const void* data, DWORD byteCount) override;

protected:
    void DeleteLogFile(const wchar_t* name) override;
};

}  // namespace KvQmtLogging
