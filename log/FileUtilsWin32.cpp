#include "log/FileUtils.h"

#include <cstddef>
#include <cwchar>
#include <vector>

#include <winternl.h>

#include "common/NoWaitFileOpen.h"
#include "log/PathIdentity.h"

namespace KvQmtLogging {

namespace {
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Held folders share everything but deletion: every writer of the logs may
// hold them at once, and none can move or remove them meanwhile.
const DWORD kShareHeldFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Listing access, so that the sharing of the handle counts against others.
const DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// The native rename: the Win32 one reads a relative new name as relative to
// the current folder on some platforms instead of to the given folder.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
const ULONG kFileRenameInformation = 10;
using NtSetInformationFileFunction = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);

// Gives the open file the new name in the held folder, replacing a file of
// that name; the new name is looked up in the folder, not by a path.
bool RenameWithin(HANDLE file, HANDLE folder, const wchar_t* to) {
    static const NtSetInformationFileFunction setInformation = reinterpret_cast<NtSetInformationFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    if (!setInformation) return false;
    const size_t nameBytes = wcslen(to) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(RenameInformation, fileName) + nameBytes + sizeof(wchar_t));
    RenameInformation* rename = reinterpret_cast<RenameInformation*>(buffer.data());
    rename->replaceIfExists = TRUE;
    rename->rootDirectory = folder;
    rename->fileNameLength = static_cast<ULONG>(nameBytes);
    wmemcpy(rename->fileName, to, wcslen(to));
    IO_STATUS_BLOCK io = {};
    return setInformation(file, &io, rename, static_cast<ULONG>(buffer.size()), kFileRenameInformation) >= 0;
}
}  // namespace

kv::unique_hfile FileUtilsWin32::OpenFileIn(HANDLE folder, const wchar_t* name, DWORD access) {
    kv::NoWaitOpen request;
    request.folder = folder;
    request.name = name;
    // Reading the attributes is what the link check needs.
    request.access = access | FILE_READ_ATTRIBUTES;
    request.share = kShareAll;
    request.kind = kv::OpenKind::NotFolder;
    request.openLinkItself = true;
    kv::unique_hfile file = kv::OpenWithoutWaiting(request);
    if (file && (IsLink(file.get()) || !IsNamedIn(file.get(), folder, name))) file.reset();
    return file;
}

bool FileUtilsWin32::FileExists(HANDLE folder, const wchar_t* name) {
    return static_cast<bool>(OpenFileIn(folder, name, 0));
}

bool FileUtilsWin32::RemoveFile(HANDLE folder, const wchar_t* name) {
    // A file held open without delete sharing stays where it is. It is not
    // left to be deleted at the next restart: that delete would go by path,
    // in a folder every account can write.
    kv::unique_hfile file = OpenFileIn(folder, name, DELETE);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return file && SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

bool FileUtilsWin32::RenameFile(HANDLE folder, const wchar_t* from, const wchar_t* to) {
    kv::unique_hfile file = OpenFileIn(folder, from, DELETE);
    return file && RenameWithin(file.get(), folder, to);
}

kv::unique_hfile FileUtilsWin32::OpenFolder(HANDLE parent, const wchar_t* name, SECURITY_ATTRIBUTES* attributes) {
    kv::NoWaitOpen request;
    request.folder = parent;
    request.name = name;
    request.access = kHeldFolderAccess;
    request.share = kShareHeldFolder;
    request.kind = kv::OpenKind::Folder;
    if (!parent) return kv::OpenWithoutWaiting(request);
    request.disposition = kv::OpenDisposition::Always;
    request.openLinkItself = true;
    request.security = attributes;
    kv::unique_hfile folder = kv::OpenWithoutWaiting(request);
    if (folder && (IsLink(folder.get()) || !IsNamedIn(folder.get(), parent, name))) folder.reset();
    return folder;
}

bool FileUtilsWin32::IsLink(HANDLE opened) {
    FILE_BASIC_INFO information = {};
    // What cannot even be looked at is not trusted either.
    return !GetFileInformationByHandleEx(opened, FileBasicInfo, &information, sizeof(information)) ||
           (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace KvQmtLogging
