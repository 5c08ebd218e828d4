#include "log/FileAccessContinuous.h"

namespace KvQmtLogging {

void FileAccessContinuous::Write(const void* data, DWORD byteCount) {
    EnsureOpen();
    // A file that cannot be opened loses this line and nothing else.
    if (!LowLevel().IsOpen()) return;
    if (NeedsRotation()) Rotate();
    LowLevel().Write(data, byteCount);
}

void FileAccessContinuous::DeleteLogFile(const wchar_t* name) {
    Utils().RemoveFile(LogFolder(), name);
}

}  // namespace KvQmtLogging
