#include "log/FileLowLevel.h"

#include "log/PathIdentity.h"

namespace KvQmtLogging {

namespace {
const BYTE kByteOrderMark[2] = {0xFF, 0xFE};
}

// Log files are readable and writable by everyone: services and programs of
// every user append to the same file.
FileLowLevel::FileLowLevel() : security_(L"D:(A;OICI;GA;;;WD)") {}

FileLowLevel::~FileLowLevel() { Close(); }

bool FileLowLevel::Open(const wchar_t* path) {
    foreign_ = false;
    if (IsOpen()) return false;
    // Others may append, rotate (rename) and delete while the file is open.
    // A link in the file's place is opened as itself, not followed.
    handle_.reset(CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security_.get(),
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!IsOpen()) return false;
    // A folder swapped for a link after the writer's checks shows here: the
    // file opened is not the one the path names from the maker's folder down.
    if (!IsPlainFile() || !HandleIsAt(handle_.get(), path, kLogPathOwnComponents) || !PrepareAfterOpen()) {
        Close();
        return false;
    }
    return true;
}

bool FileLowLevel::IsPlainFile() {
    // What was opened must be one ordinary file: not a link or junction, not
    // a folder, and no second name of a file elsewhere (a hard link).
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle_.get(), &information)) return false;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    return (information.dwFileAttributes & refused) == 0 && information.nNumberOfLinks <= 1;
}

bool FileLowLevel::PrepareAfterOpen() {
    BYTE head[2] = {};
    DWORD read = 0;
    const bool readOk = IsOpen() && ReadFile(handle_.get(), head, sizeof(head), &read, nullptr);
    foreign_ = !(readOk && read == 2 && head[0] == kByteOrderMark[0] && head[1] == kByteOrderMark[1]);
    if (!SeekToEnd()) return false;
    if (position_ == 0) {
        Write(kByteOrderMark, sizeof(kByteOrderMark));
        foreign_ = false;
    }
    return true;
}

void FileLowLevel::Close() {
    if (!IsOpen()) return;
    foreign_ = false;
    handle_.reset();
    position_ = 0;
}

bool FileLowLevel::Write(const void* data, DWORD byteCount) {
    if (!IsOpen()) return false;
    DWORD written = 0;
    if (WriteFile(handle_.get(), data, byteCount, &written, nullptr)) position_ += written;
    return true;
}

uint64_t FileLowLevel::GetSize() { return position_; }

bool FileLowLevel::SeekToEnd() {
    if (!IsOpen()) return false;
    LARGE_INTEGER zero{};
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(handle_.get(), zero, &end, FILE_END)) return false;
    position_ = static_cast<uint64_t>(end.QuadPart);
    return true;
}

bool FileLowLevel::HasForeignContent() { return foreign_; }

bool FileLowLevel::IsOpen() { return static_cast<bool>(handle_); }

}  // namespace KvQmtLogging
