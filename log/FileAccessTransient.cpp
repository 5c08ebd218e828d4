#include "log/FileAccessTransient.h"

#include <cwchar>

namespace KvQmtLogging {

void FileAccessTransient::Write(const void* data, DWORD byteCount) {
    const DWORD wait = WaitForSingleObject(Mutex(), kMutexWaitMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        wchar_t message[1024];
        _snwprintf(message, 1024, L"kv_qmt_log!FileAccessTransient::Write(): Failed to acquire file mutex, error=%lu\n",
                   wait);
        message[1023] = L'\0';
        OutputDebugStringW(message);
        return;
    }
    kv::mutex_release held(Mutex());

    EnsureOpen();
    // A file that cannot be opened loses this line and nothing else.
    if (!LowLevel().IsOpen()) return;
    LowLevel().SeekToEnd();  // other processes may have appended since
    if (NeedsRotation()) {
        // Another process may have rotated the file already; then the handle
        // held so far refers to the older file under its new name.
        LowLevel().Close();
        EnsureOpen();
        if (NeedsRotation()) Rotate();
    }
    LowLevel().Write(data, byteCount);
}

void FileAccessTransient::DeleteLogFile(const wchar_t* name) {
    // Moving the file aside first frees its name at once, even while another
    // process still holds it open.
    const std::wstring deleteName = MakeDeleteName(name);
    const bool moved = !deleteName.empty() && Utils().RenameFile(LogFolder(), name, deleteName.c_str());
    Utils().RemoveFile(LogFolder(), moved ? deleteName.c_str() : name);
}

}  // namespace KvQmtLogging
