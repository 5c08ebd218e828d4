#include "FileAccessContinuous.h"

namespace KvQmtLogging {

void FileAccessContinuous::Write(const void* data, DWORD byteCount) {
    EnsureOpen();
    if (NeedsRotation()) Rotate();
    LowLevel().Write(data, byteCount);
}

void FileAccessContinuous::DeleteLogFile(const wchar_t* path) {
    Utils().RemoveFile(path);
}

}  // namespace KvQmtLogging
