#include "common/NoWaitFileOpen.h"

#include <winternl.h>

#include <string>

namespace kv {

namespace {

// The native open's values; the Win32 open cannot ask for the first one.
const ULONG kCompleteIfOplocked = 0x00000100;
const ULONG kSynchronousIoNonAlert = 0x00000020;
const ULONG kDirectoryFile = 0x00000001;
const ULONG kNonDirectoryFile = 0x00000040;
const ULONG kOpenReparsePoint = 0x00200000;
const ULONG kDispositionOpen = 1;
const ULONG kDispositionCreate = 2;
const ULONG kDispositionOpenIf = 3;
const ULONG_PTR kInformationCreated = 2;
const LONG kStatusOplockBreakInProgress = 0x00000108;
// ERROR_OPLOCK_BREAK_IN_PROGRESS, which not every SDK names.
const DWORD kErrorOplockBreakInProgress = 742;

using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(LONG);

struct NativeCalls {
    NtCreateFileFunction createFile = nullptr;
    StatusToErrorFunction statusToError = nullptr;
};

const NativeCalls& Native() {
    static const NativeCalls calls = [] {
        NativeCalls found;
        // ntdll is in every process; nothing is loaded here.
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        if (ntdll) {
            found.createFile = reinterpret_cast<NtCreateFileFunction>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtCreateFile")));
            found.statusToError = reinterpret_cast<StatusToErrorFunction>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlNtStatusToDosError")));
        }
        return found;
    }();
    return calls;
}

// The native form of an absolute Win32 path; empty for any other form.
std::wstring NativePath(const wchar_t* path) {
    const std::wstring text(path);
    if (text.size() >= 3 && text[1] == L':' && text[2] == L'\\') return L"\\??\\" + text;
    if (text.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + text.substr(4);
    if (text.size() > 2 && text.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + text.substr(2);
    return std::wstring();
}

ULONG Disposition(OpenDisposition disposition) {
    switch (disposition) {
        case OpenDisposition::Always: return kDispositionOpenIf;
        case OpenDisposition::New: return kDispositionCreate;
        case OpenDisposition::Existing: break;
    }
    return kDispositionOpen;
}

ULONG Options(const NoWaitOpen& request) {
    ULONG options = kCompleteIfOplocked | kSynchronousIoNonAlert;
    if (request.kind == OpenKind::Folder) options |= kDirectoryFile;
    if (request.kind == OpenKind::NotFolder) options |= kNonDirectoryFile;
    if (request.openLinkItself) options |= kOpenReparsePoint;
    return options;
}

}  // namespace

unique_hfile OpenWithoutWaiting(const NoWaitOpen& request, bool* created) {
    if (created) *created = false;
    const NativeCalls& native = Native();
    if (!native.createFile || !native.statusToError) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return unique_hfile();
    }
    const std::wstring name = request.folder ? std::wstring(request.name) : NativePath(request.name);
    // A name in a folder is one name: a path there would walk out of it.
    if (name.empty() || (request.folder && name.find(L'\\') != std::wstring::npos) ||
        name.size() * sizeof(wchar_t) > 0xFFF0) {
        ::SetLastError(ERROR_INVALID_NAME);
        return unique_hfile();
    }
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, request.folder,
                               request.security ? request.security->lpSecurityDescriptor : nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE opened = INVALID_HANDLE_VALUE;
    const LONG status = native.createFile(&opened, request.access | SYNCHRONIZE, &attributes, &io, nullptr,
                                          FILE_ATTRIBUTE_NORMAL, request.share, Disposition(request.disposition),
                                          Options(request), nullptr, 0);
    if (status < 0) {
        ::SetLastError(native.statusToError(status));
        return unique_hfile();
    }
    unique_hfile handle(opened);
    if (status == kStatusOplockBreakInProgress) {
        // Reading or writing now would wait for the holder's acknowledgement.
        handle.reset();
        ::SetLastError(kErrorOplockBreakInProgress);
        return handle;
    }
    if (created) *created = io.Information == kInformationCreated;
    return handle;
}

}  // namespace kv
