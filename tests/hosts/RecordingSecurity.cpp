#include "tests/hosts/RecordingSecurity.h"

#include <sddl.h>

#include <cstring>

const wchar_t kNullDacl[] = L"NULL";

std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return L"?";
    if (present && !dacl) return kNullDacl;
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"?";
    }
    std::wstring result(text);
    ::LocalFree(text);
    return result;
}

RecordingSecurity::RecordingSecurity() : scope_(*this) {}

RecordingSecurity::~RecordingSecurity() = default;

FakeObject* RecordingSecurity::find(const std::wstring& path) {
    const bool onDisk = ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    auto it = objects_.find(path);
    if (it != objects_.end()) return onDisk || !requireRealFile ? &it->second : nullptr;
    if (!onDisk) return nullptr;
    return &objects_[path];
}

FakeObject& RecordingSecurity::object(const std::wstring& path) { return objects_[path]; }

std::vector<std::wstring> RecordingSecurity::daclWritesTo(const std::wstring& path) const {
    std::vector<std::wstring> writes;
    const std::wstring prefix = L"dacl " + path + L" ";
    for (const std::wstring& event : events) {
        if (event.compare(0, prefix.size(), prefix) == 0) {
            const std::wstring rest = event.substr(prefix.size());
            writes.push_back(rest.substr(0, rest.find(L' ')));
        }
    }
    return writes;
}

int RecordingSecurity::count(const std::wstring& prefix) const {
    int n = 0;
    for (const std::wstring& event : events) {
        if (event.compare(0, prefix.size(), prefix) == 0) ++n;
    }
    return n;
}

BOOL RecordingSecurity::ReadFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                                         PSECURITY_DESCRIPTOR descriptor, DWORD length, LPDWORD lengthNeeded) {
    if (onRead) onRead();
    FakeObject* target = find(path);
    const SECURITY_INFORMATION known = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION;
    if (!target || !(information & known) || (information & ~known)) {
        ::SetLastError(target ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::wstring text;
    if (information & OWNER_SECURITY_INFORMATION) {
        text += L"O:" + std::wstring(target->ownedByAdministrators ? L"S-1-5-32-544" : target->owner.c_str());
    }
    if (information & DACL_SECURITY_INFORMATION) {
        text += target->dacl == kNullDacl ? std::wstring(L"D:NO_ACCESS_CONTROL") : target->dacl;
    }
    PSECURITY_DESCRIPTOR stored = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &stored, nullptr)) {
        return FALSE;
    }
    const DWORD needed = ::GetSecurityDescriptorLength(stored);
    *lengthNeeded = needed;
    BOOL ok = TRUE;
    if (length < needed || !descriptor) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        ok = FALSE;
    } else {
        std::memcpy(descriptor, stored, needed);
    }
    ::LocalFree(stored);
    return ok;
}

BOOL RecordingSecurity::WriteFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                                          PSECURITY_DESCRIPTOR descriptor) {
    FakeObject* target = find(path);
    if (!target) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (information == OWNER_SECURITY_INFORMATION) {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        LPWSTR sid = nullptr;
        const bool administrators = ::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner &&
                                    ::ConvertSidToStringSidW(owner, &sid) && std::wstring(sid) == L"S-1-5-32-544";
        const std::wstring sidText = sid ? sid : L"?";
        if (sid) ::LocalFree(sid);
        if (!administrators && owner) {
            // Putting another owner back needs the restore privilege.
            if (!restorePrivilegeEnabled) {
                events.push_back(L"denied-owner " + std::wstring(path));
                ::SetLastError(ERROR_INVALID_OWNER);
                return FALSE;
            }
            target->ownedByAdministrators = false;
            target->owner = sidText;
            events.push_back(L"owner-back " + std::wstring(path) + L" " + sidText);
            return TRUE;
        }
        if (!administrators || !(target->ownerWritable || (target->ownerWritableWithPrivilege && privilegeEnabled))) {
            events.push_back(L"denied-owner " + std::wstring(path));
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        target->ownedByAdministrators = true;
        events.push_back(L"owner " + std::wstring(path));
        return TRUE;
    }
    const std::wstring text = DaclText(descriptor);
    const bool allowed = target->daclWritable || (target->ownedByAdministrators && target->ownerMayWriteDacl);
    if (information != DACL_SECURITY_INFORMATION || !allowed || refusedDacls.count(text)) {
        events.push_back(L"denied-dacl " + std::wstring(path));
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    target->dacl = text;
    // Only full access of their own lets the Administrators write the next
    // DACL: the fixed etc DACL grants them 0x1301bf, without WRITE_DAC.
    target->daclWritable = text == kNullDacl || text.find(L";FA;;;BA)") != std::wstring::npos;
    std::wstring event = L"dacl " + std::wstring(path) + L" " + text;
    if (!watchedFile.empty()) {
        wchar_t attributes[16];
        _snwprintf(attributes, 16, L"%lx", ::GetFileAttributesW(watchedFile.c_str()) & 7);
        attributes[15] = L'\0';
        event += L" ";
        event += attributes;
    }
    events.push_back(event);
    return TRUE;
}

BOOL RecordingSecurity::ConvertSddlToDescriptor(LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                                                PULONG size) {
    return real_.ConvertSddlToDescriptor(text, revision, descriptor, size);
}

BOOL RecordingSecurity::SetDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                             SECURITY_DESCRIPTOR_CONTROL bits) {
    if (failControl) {
        ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    return real_.SetDescriptorControl(descriptor, mask, bits);
}

BOOL RecordingSecurity::SetDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) {
    if (failOwnerInDescriptor) {
        ::SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    return real_.SetDescriptorOwner(descriptor, owner, defaulted);
}

HANDLE RecordingSecurity::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    if (failOpenProcess) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return real_.OpenProcess(access, inherit, processId);
}

BOOL RecordingSecurity::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (failOpenToken) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return real_.OpenProcessToken(process, access, token);
}

BOOL RecordingSecurity::LookupPrivilege(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
    if (failLookup) {
        ::SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    return real_.LookupPrivilege(systemName, name, luid);
}

BOOL RecordingSecurity::AdjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES privileges, DWORD length,
                                              PTOKEN_PRIVILEGES previous, PDWORD) {
    LUID take{};
    LUID restore{};
    ::LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &take);
    ::LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &restore);
    const LUID luid = privileges->Privileges[0].Luid;
    const DWORD attributes = privileges->Privileges[0].Attributes;
    const bool isTake = luid.LowPart == take.LowPart, isRestore = luid.LowPart == restore.LowPart;
    bool* state = isTake ? &privilegeEnabled : isRestore ? &restorePrivilegeEnabled : nullptr;
    const bool wellFormed = length == sizeof(TOKEN_PRIVILEGES) && privileges->PrivilegeCount == 1 && state &&
                            (attributes == SE_PRIVILEGE_ENABLED || attributes == 0);
    const wchar_t* name = isTake ? L"take-ownership" : L"restore";
    events.push_back(!wellFormed ? L"privilege-malformed"
                     : attributes ? (isTake ? L"privilege" : L"privilege-restore")
                                  : L"privilege-off " + std::wstring(name));
    if (!wellFormed || (attributes && privilegeNotHeld)) {
        ::SetLastError(ERROR_NOT_ALL_ASSIGNED);
        return TRUE;
    }
    // As the system reports it: only a privilege whose state changed.
    if (previous) *previous = TOKEN_PRIVILEGES{*state == (attributes != 0) ? 0u : 1u, {{luid, *state ? SE_PRIVILEGE_ENABLED : 0u}}};
    *state = attributes != 0;
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}
