#include "common/FileReplacement.h"

#include "common/LastErrorKeeper.h"
#include "common/UniqueHandle.h"

namespace kv {

namespace {

// Only these bits are the file's own; ReplaceFileW keeps them where the
// platform does, and they are put back where it does not.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

constexpr DWORD kWriteChunk = 1u << 20;

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

// A fresh, empty, uniquely named file in the folder.
DWORD MakeTemporaryFile(const std::wstring& folder, std::wstring& path) {
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), L"kvr", 0, name) == 0) return ::GetLastError();
    path = name;
    return ERROR_SUCCESS;
}

bool WriteAll(HANDLE file, const std::string& content) {
    size_t offset = 0;
    while (offset < content.size()) {
        const size_t remaining = content.size() - offset;
        const DWORD request = remaining < kWriteChunk ? static_cast<DWORD>(remaining) : kWriteChunk;
        DWORD written = 0;
        if (!::WriteFile(file, content.data() + offset, request, &written, nullptr)) return false;
        if (written == 0 || written > request) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        offset += written;
    }
    return true;
}

// The owner of a file, in a descriptor from the local heap; none when it
// cannot be read.
unique_hlocal ReadOwner(const std::wstring& path) {
    DWORD needed = 0;
    ::GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return unique_hlocal();
    unique_hlocal descriptor(::LocalAlloc(LPTR, needed));
    if (!descriptor || !::GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor.get(), needed,
                                           &needed)) {
        return unique_hlocal();
    }
    return descriptor;
}

bool SameOwner(PSECURITY_DESCRIPTOR a, PSECURITY_DESCRIPTOR b) {
    PSID first = nullptr;
    PSID second = nullptr;
    BOOL defaulted = FALSE;
    return a && b && ::GetSecurityDescriptorOwner(a, &first, &defaulted) &&
           ::GetSecurityDescriptorOwner(b, &second, &defaulted) && first && second && ::EqualSid(first, second);
}

// SeRestorePrivilege for one owner write: an owner other than the caller
// needs it. The state it had before is put back when the object goes.
class RestorePrivilege {
public:
    RestorePrivilege() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
        token_.reset(token);
        TOKEN_PRIVILEGES enable{};
        if (!::LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &enable.Privileges[0].Luid)) return;
        enable.PrivilegeCount = 1;
        enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD length = 0;
        ::SetLastError(ERROR_SUCCESS);
        enabled_ = ::AdjustTokenPrivileges(token_.get(), FALSE, &enable, sizeof(enable), &previous_, &length) &&
                   ::GetLastError() == ERROR_SUCCESS;
    }
    ~RestorePrivilege() {
        if (enabled_ && previous_.PrivilegeCount > 0) {
            ::AdjustTokenPrivileges(token_.get(), FALSE, &previous_, sizeof(previous_), nullptr, nullptr);
        }
    }
    RestorePrivilege(const RestorePrivilege&) = delete;
    RestorePrivilege& operator=(const RestorePrivilege&) = delete;
    bool enabled() const { return enabled_; }

private:
    unique_handle token_;
    TOKEN_PRIVILEGES previous_{};
    bool enabled_ = false;
};

}  // namespace

FileReplacement::FileReplacement(std::wstring target) : target_(std::move(target)), folder_(FolderOf(target_)) {}

FileReplacement::~FileReplacement() {
    RemoveQuietly(temporary_);
    RemoveQuietly(backup_);
}

void FileReplacement::RemoveQuietly(std::wstring& path) {
    if (path.empty()) return;
    const LastErrorKeeper keeper;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
    path.clear();
}

DWORD FileReplacement::Fail(const wchar_t* call, DWORD error) {
    failedCall_ = call;
    ::SetLastError(error);
    return error;
}

DWORD FileReplacement::Prepare() {
    RemoveQuietly(temporary_);
    const DWORD error = MakeTemporaryFile(folder_, temporary_);
    return error ? Fail(L"GetTempFileNameW", error) : ERROR_SUCCESS;
}

DWORD FileReplacement::Write(const std::string& content) {
    if (temporary_.empty()) return Fail(L"GetTempFileNameW", ERROR_INVALID_HANDLE);
    unique_hfile file(::CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                    FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return Fail(L"CreateFileW", ::GetLastError());
    if (!WriteAll(file.get(), content)) return Fail(L"WriteFile", ::GetLastError());
    return ERROR_SUCCESS;
}

DWORD FileReplacement::Flush() {
    // Whoever wrote the content may have used a stream; the data reach the
    // disk before the file takes the target's place.
    unique_hfile file(::CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return Fail(L"CreateFileW", ::GetLastError());
    if (!::FlushFileBuffers(file.get())) return Fail(L"FlushFileBuffers", ::GetLastError());
    return ERROR_SUCCESS;
}

DWORD FileReplacement::Commit() {
    if (temporary_.empty()) return Fail(L"GetTempFileNameW", ERROR_INVALID_HANDLE);
    if (const DWORD error = Flush()) return error;

    const DWORD before = ::GetFileAttributesW(target_.c_str());
    if (before == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return Fail(L"GetFileAttributesW", error);
        // Nothing to keep: the new file simply takes the name (and fails if
        // another one took it meanwhile).
        if (!::MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH)) {
            return Fail(L"MoveFileExW", ::GetLastError());
        }
        temporary_.clear();
        return ERROR_SUCCESS;
    }
    const unique_hlocal owner = ReadOwner(target_);
    if (const DWORD error = Swap()) return error;
    KeepAttributes(before);
    KeepOwner(owner.get());
    return ERROR_SUCCESS;
}

DWORD FileReplacement::Swap() {
    // With a backup name ReplaceFileW never leaves the target's name empty:
    // either both files keep their names, or the former file stands under the
    // backup name and is moved back.
    RemoveQuietly(backup_);
    if (const DWORD error = MakeTemporaryFile(folder_, backup_)) return Fail(L"GetTempFileNameW", error);
    ::DeleteFileW(backup_.c_str());
    if (::ReplaceFileW(target_.c_str(), temporary_.c_str(), backup_.c_str(), 0, nullptr, nullptr)) {
        temporary_.clear();
        RemoveQuietly(backup_);
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
        ::GetFileAttributesW(target_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::MoveFileExW(backup_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH);
    }
    // Left under the backup name only if it could not be moved back: then it
    // is the one copy of the former content and must stay, under a name the
    // caller can report.
    if (::GetFileAttributesW(target_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        formerContent_ = backup_;
        backup_.clear();
    }
    RemoveQuietly(backup_);
    return Fail(L"ReplaceFileW", error);
}

void FileReplacement::KeepOwner(PSECURITY_DESCRIPTOR before) {
    // ReplaceFileW keeps the DACL, but the file takes the owner of whoever
    // made the replacement.
    const LastErrorKeeper keeper;
    const unique_hlocal after = ReadOwner(target_);
    ownerKept_ = !before || SameOwner(before, after.get());
    if (!ownerKept_) {
        ownerKept_ = ::SetFileSecurityW(target_.c_str(), OWNER_SECURITY_INFORMATION, before) != FALSE;
        if (!ownerKept_) {
            RestorePrivilege privilege;
            ownerKept_ = privilege.enabled() &&
                         ::SetFileSecurityW(target_.c_str(), OWNER_SECURITY_INFORMATION, before) != FALSE;
        }
    }
}

void FileReplacement::KeepAttributes(DWORD before) {
    const DWORD after = ::GetFileAttributesW(target_.c_str());
    if (after == INVALID_FILE_ATTRIBUTES || (after & kKeptAttributes) == (before & kKeptAttributes)) return;
    ::SetFileAttributesW(target_.c_str(), (after & ~kKeptAttributes) | (before & kKeptAttributes));
}

}  // namespace kv
