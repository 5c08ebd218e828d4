#include "common/FileReplacement.h"

#include <vector>

#include "common/LastErrorKeeper.h"

namespace kv {

namespace {

const wchar_t kTemporaryPrefix[] = L"kvr";

// Only these bits are the file's own and go with its content.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

constexpr DWORD kWriteChunk = 1u << 20;

struct FindTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindClose(h); }
};
using unique_hfind = unique_any<FindTraits>;

// FileRenameInfoEx and its flags, which older headers lack.
const FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
const DWORD kReplaceIgnoringReadOnly = 0x1 /* replace if exists */ | 0x40 /* ignore read-only attribute */;

// One rename by handle; flags is ReplaceIfExists for FileRenameInfo.
DWORD Rename(HANDLE file, const std::wstring& target, FILE_INFO_BY_HANDLE_CLASS kind, DWORD flags) {
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    // The flags word and the older BOOLEAN share the first bytes.
    ::CopyMemory(rename, &flags, sizeof(flags));
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    target.copy(rename->FileName, target.size());
    rename->FileName[target.size()] = L'\0';
    return ::SetFileInformationByHandle(file, kind, rename, static_cast<DWORD>(buffer.size())) ? ERROR_SUCCESS
                                                                                              : ::GetLastError();
}

ReplacementSteps g_realSteps;
ReplacementSteps* g_currentSteps = &g_realSteps;

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
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

DWORD SetAttributesOf(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO info{};  // zero times stay as they are
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof(info)) ? ERROR_SUCCESS
                                                                                   : ::GetLastError();
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

DWORD ReplacementSteps::MakeTemporary(const std::wstring& folder, std::wstring& path) {
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), kTemporaryPrefix, 0, name) == 0) return ::GetLastError();
    path = name;
    return ERROR_SUCCESS;
}

DWORD ReplacementSteps::WriteContent(const std::wstring& temporary, const std::string& content) {
    unique_hfile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file || !WriteAll(file.get(), content)) return ::GetLastError();
    return ERROR_SUCCESS;
}

DWORD ReplacementSteps::OpenTemporary(const std::wstring& temporary, unique_hfile& file) {
    // Nobody else may write, rename or delete it from here on; the rights
    // are fixed now, so the access list it takes later cannot lock this
    // process out.
    const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC;
    file.reset(::CreateFileW(temporary.c_str(), access | WRITE_OWNER, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Without the right to give it an owner the file still takes the content.
    if (!file && ::GetLastError() == ERROR_ACCESS_DENIED) {
        file.reset(::CreateFileW(temporary.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    return file ? ERROR_SUCCESS : ::GetLastError();
}

DWORD ReplacementSteps::Flush(HANDLE file) {
    return ::FlushFileBuffers(file) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD ReplacementSteps::CopySecurity(const std::wstring& target, HANDLE file, bool& ownerKept) {
    const SECURITY_INFORMATION kept = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityW(target.c_str(), kept, nullptr, 0, &needed);
    if (needed == 0) return ::GetLastError();
    unique_hlocal descriptor(::LocalAlloc(LPTR, needed));
    if (!descriptor) return ERROR_NOT_ENOUGH_MEMORY;
    if (!::GetFileSecurityW(target.c_str(), kept, descriptor.get(), needed, &needed)) return ::GetLastError();
    // Written as read, control flags included: nothing is inherited anew.
    if (!::SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.get())) return ::GetLastError();
    ownerKept = ::SetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, descriptor.get()) != FALSE;
    if (!ownerKept) {
        RestorePrivilege privilege;
        ownerKept = privilege.enabled() &&
                    ::SetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, descriptor.get()) != FALSE;
    }
    return ERROR_SUCCESS;
}

DWORD ReplacementSteps::CopyAttributes(DWORD targetAttributes, HANDLE file) {
    return SetAttributesOf(file, targetAttributes & kKeptAttributes);
}

DWORD ReplacementSteps::MoveOverTarget(HANDLE file, const std::wstring& target, bool replace) {
    DWORD error = ERROR_NOT_SUPPORTED;
    // Where the system knows it, the one rename also replaces a read-only
    // file; elsewhere the plain rename is the one there is.
    if (replace) error = Rename(file, target, kFileRenameInfoEx, kReplaceIgnoringReadOnly);
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
        error == ERROR_CALL_NOT_IMPLEMENTED) {
        error = Rename(file, target, FileRenameInfo, replace ? 1 : 0);
    }
    if (error) return error;
    // The new name reaches the disk before the caller goes on.
    ::FlushFileBuffers(file);
    return ERROR_SUCCESS;
}

ReplacementSteps& CurrentReplacementSteps() { return *g_currentSteps; }

ScopedReplacementSteps::ScopedReplacementSteps(ReplacementSteps& steps) : previous_(g_currentSteps) {
    g_currentSteps = &steps;
}

ScopedReplacementSteps::~ScopedReplacementSteps() { g_currentSteps = previous_; }

FileReplacement::FileReplacement(std::wstring target) : target_(std::move(target)), folder_(FolderOf(target_)) {}

FileReplacement::~FileReplacement() { RemoveTemporary(); }

void FileReplacement::RemoveTemporary() {
    if (temporary_.empty()) return;
    const LastErrorKeeper keeper;
    ::SetFileAttributesW(temporary_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(temporary_.c_str());
    temporary_.clear();
}

DWORD FileReplacement::Fail(const wchar_t* step, DWORD error) {
    failedCall_ = step;
    ::SetLastError(error);
    return error;
}

DWORD FileReplacement::Prepare() {
    RemoveTemporary();
    const DWORD error = CurrentReplacementSteps().MakeTemporary(folder_, temporary_);
    return error ? Fail(L"GetTempFileNameW", error) : ERROR_SUCCESS;
}

DWORD FileReplacement::Write(const std::string& content) {
    if (temporary_.empty()) return Fail(L"GetTempFileNameW", ERROR_INVALID_HANDLE);
    const DWORD error = CurrentReplacementSteps().WriteContent(temporary_, content);
    return error ? Fail(L"WriteFile", error) : ERROR_SUCCESS;
}

DWORD FileReplacement::Commit() {
    if (temporary_.empty()) return Fail(L"GetTempFileNameW", ERROR_INVALID_HANDLE);
    ReplacementSteps& steps = CurrentReplacementSteps();
    unique_hfile file;
    if (const DWORD error = steps.OpenTemporary(temporary_, file)) return Fail(L"CreateFileW", error);
    if (const DWORD error = steps.Flush(file.get())) return Fail(L"FlushFileBuffers", error);

    const DWORD before = ::GetFileAttributesW(target_.c_str());
    if (before == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return Fail(L"GetFileAttributesW", error);
        // Nothing to keep: the new file simply takes the name (and fails if
        // another one took it meanwhile).
        if (const DWORD moved = steps.MoveOverTarget(file.get(), target_, false)) {
            return Fail(L"SetFileInformationByHandle", moved);
        }
        temporary_.clear();
        return ERROR_SUCCESS;
    }
    return Finish(file.get(), before);
}

DWORD FileReplacement::Finish(HANDLE file, DWORD targetAttributes) {
    ReplacementSteps& steps = CurrentReplacementSteps();
    bool ownerKept = true;
    if (const DWORD error = steps.CopySecurity(target_, file, ownerKept)) {
        return Fail(L"SetKernelObjectSecurity", error);
    }
    if (const DWORD error = steps.CopyAttributes(targetAttributes, file)) {
        SetAttributesOf(file, FILE_ATTRIBUTE_NORMAL);
        return Fail(L"SetFileInformationByHandle", error);
    }
    DWORD error = steps.MoveOverTarget(file, target_, true);
    if (error == ERROR_ACCESS_DENIED && (targetAttributes & FILE_ATTRIBUTE_READONLY)) {
        // A system that cannot ignore the bit in the rename: it is off only
        // for the rename, and the new file carries it already.
        if (::SetFileAttributesW(target_.c_str(), targetAttributes & ~FILE_ATTRIBUTE_READONLY)) {
            error = steps.MoveOverTarget(file, target_, true);
            if (error) {
                const LastErrorKeeper keeper;
                ::SetFileAttributesW(target_.c_str(), targetAttributes);
            }
        }
    }
    if (error) {
        // Writable again for another attempt, and for its removal.
        SetAttributesOf(file, FILE_ATTRIBUTE_NORMAL);
        return Fail(L"SetFileInformationByHandle", error);
    }
    temporary_.clear();
    ownerKept_ = ownerKept;
    return ERROR_SUCCESS;
}

unsigned FileReplacement::RemoveLeftovers(const std::wstring& folder) {
    const std::wstring pattern = folder + L"\\" + kTemporaryPrefix + L"*.tmp";
    WIN32_FIND_DATAW found{};
    const unique_hfind search(::FindFirstFileW(pattern.c_str(), &found));
    if (!search) return 0;
    unsigned removed = 0;
    do {
        // Plain files only: a folder or a link of that name is not ours.
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (::DeleteFileW(path.c_str())) ++removed;
    } while (::FindNextFileW(search.get(), &found));
    return removed;
}

}  // namespace kv
