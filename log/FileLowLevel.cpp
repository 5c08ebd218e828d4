#include "log/FileLowLevel.h"

#include "common/NoWaitFileOpen.h"
#include "log/LogFormat.h"
#include "log/PathIdentity.h"

namespace KvQmtLogging {

namespace {
const DWORD kOpenAccess = GENERIC_READ | GENERIC_WRITE;

kv::NoWaitOpen FileRequest(HANDLE folder, const wchar_t* name, kv::OpenDisposition disposition, DWORD access,
                           SECURITY_ATTRIBUTES* security = nullptr) {
    kv::NoWaitOpen request;
    request.folder = folder;
    request.name = name;
    request.access = access;
    request.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    request.disposition = disposition;
    request.kind = kv::OpenKind::NotFolder;
    request.openLinkItself = true;
    request.security = security;
    return request;
}
}  // namespace

// Log files are readable and writable by everyone: services and programs of
// every user append to the same file.
FileLowLevel::FileLowLevel() : security_(L"D:(A;OICI;GA;;;WD)") {}

FileLowLevel::~FileLowLevel() { Close(); }

bool FileLowLevel::Open(HANDLE folder, const wchar_t* name) {
    foreign_ = false;
    if (IsOpen()) return false;
    if (!CreateNew(folder, name)) {
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        // Others may append, rotate (rename) and delete while the file is
        // open. A link in the file's place is opened as itself, not followed.
        handle_ = kv::OpenWithoutWaiting(FileRequest(folder, name, kv::OpenDisposition::Existing, kOpenAccess));
        if (!IsOpen()) return false;
        if (!IsPlainFileNamed(folder, name)) {
            Close();
            return false;
        }
    }
    if (!PrepareAfterOpen()) {
        Close();
        return false;
    }
    return true;
}

bool FileLowLevel::CreateNew(HANDLE folder, const wchar_t* name) {
    // Made with the right to delete it, so that a file that turns out not to
    // be where it was meant is removed through its own handle, by no path.
    kv::unique_hfile created = kv::OpenWithoutWaiting(
        FileRequest(folder, name, kv::OpenDisposition::New, kOpenAccess | DELETE, security_.get()));
    if (!created) return false;
    handle_ = std::move(created);
    if (!IsPlainFileNamed(folder, name)) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition, sizeof(disposition));
        Close();
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // The handle kept has no delete right: readers that do not share
    // deletion may still open the log.
    kv::unique_hfile kept = kv::OpenWithoutWaiting(FileRequest(folder, name, kv::OpenDisposition::Existing, kOpenAccess));
    if (!kept) {
        Close();
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    handle_ = std::move(kept);
    return true;
}

bool FileLowLevel::IsPlainFileNamed(HANDLE folder, const wchar_t* name) {
    // What was opened must be one ordinary file in the held folder: not a
    // link or junction, not a folder, and no second name of a file elsewhere
    // (a hard link).
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle_.get(), &information)) return false;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    return (information.dwFileAttributes & refused) == 0 && information.nNumberOfLinks <= 1 &&
           IsNamedIn(handle_.get(), folder, name);
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
