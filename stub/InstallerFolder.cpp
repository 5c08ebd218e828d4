#include "stub/InstallerFolder.h"

#include "common/SddlSecurityAttributes.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogError;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

const wchar_t kInstallerFolderSddl[] = L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

// A name someone else took is skipped; so many in a row mean someone is racing us.
constexpr int kMaxNameAttempts = 16;

std::wstring TempFolder() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return folder;
}

std::wstring CandidateName(const std::wstring& parent, DWORD seed) {
    wchar_t name[32];
    _snwprintf(name, 32, L"kvc%08lX.d", seed);
    name[31] = L'\0';
    std::wstring path = parent;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + name;
}

}  // namespace

bool InstallerFolder::Create() {
    const std::wstring parent = TempFolder();
    if (parent.empty()) {
        LogMessage(LogError, L"%s: GetTempPath failed: %lu", L"InstallerFolder::Create", ::GetLastError());
        return false;
    }
    return Create(parent);
}

bool InstallerFolder::Create(const std::wstring& parent) {
    const wchar_t* const kFunction = L"InstallerFolder::Create";
    kv::SddlSecurityAttributes security(kInstallerFolderSddl, kv::SddlSecurityAttributes::Dacl::Protected);
    if (security.get()->lpSecurityDescriptor == nullptr) {
        // A folder with the temporary folder's own access would be no safer.
        LogMessage(LogError, L"%s: The folder's access list could not be made", kFunction);
        return false;
    }
    DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt, seed = seed * 1103515245u + 12345u) {
        const std::wstring candidate = CandidateName(parent, seed);
        if (!::CreateDirectoryW(candidate.c_str(), security.get())) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
                LogMessage(LogWarning, L"%s: '%s' exists already and is not ours, taking another name", kFunction,
                           candidate.c_str());
                continue;
            }
            LogMessage(LogError, L"%s: CreateDirectory(%s) failed: %lu", kFunction, candidate.c_str(), error);
            return false;
        }
        return Hold(candidate);
    }
    LogMessage(LogError, L"%s: Every one of %d folder names was taken", kFunction, kMaxNameAttempts);
    return false;
}

bool InstallerFolder::Hold(const std::wstring& path) {
    // Shared for reading and writing but not deleting: while we hold it, it
    // cannot be renamed or deleted, nor its path made to lead elsewhere. It
    // asks no delete access itself, so that the installer can still open it
    // as its current folder (which shares no deleting either).
    handle_ = OpenPlainFolder(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, identity_);
    if (!handle_) return false;
    path_ = path;
    return true;
}

kv::unique_hfile InstallerFolder::OpenPlainFolder(const std::wstring& path, DWORD access, DWORD sharing,
                                                  BY_HANDLE_FILE_INFORMATION& information) {
    const wchar_t* const kFunction = L"InstallerFolder::OpenPlainFolder";
    // Opened as itself, never through a link.
    kv::unique_hfile folder(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, sharing, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!folder) {
        LogMessage(LogError, L"%s: CreateFile(%s) failed: %lu", kFunction, path.c_str(), ::GetLastError());
        return folder;
    }
    if (!::GetFileInformationByHandle(folder.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        LogMessage(LogError, L"%s: '%s' is not a plain folder", kFunction, path.c_str());
        folder.reset();
    }
    return folder;
}

void InstallerFolder::Remove() {
    const wchar_t* const kFunction = L"InstallerFolder::Remove";
    if (!handle_) return;
    // Deleting needs a handle with delete access, which ours shares with
    // nobody: it goes first, and the folder opened again must be the same
    // one (only administrators could have renamed it meanwhile).
    handle_.reset();
    BY_HANDLE_FILE_INFORMATION now = {};
    kv::unique_hfile folder = OpenPlainFolder(path_, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, now);
    if (!folder) return;
    if (now.dwVolumeSerialNumber != identity_.dwVolumeSerialNumber || now.nFileIndexHigh != identity_.nFileIndexHigh ||
        now.nFileIndexLow != identity_.nFileIndexLow) {
        LogMessage(LogError, L"%s: '%s' is no longer our folder; left alone", kFunction, path_.c_str());
        return;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
        LogMessage(LogWarning, L"%s: '%s' could not be removed: %lu", kFunction, path_.c_str(), ::GetLastError());
    }
}
