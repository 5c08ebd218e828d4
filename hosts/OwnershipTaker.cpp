#include "hosts/OwnershipTaker.h"

#include "hosts/SecurityOperations.h"

namespace {

const DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;

bool EnablePrivilege(HANDLE token, const wchar_t* name, TOKEN_PRIVILEGES& previous) {
    SecurityOperations& security = CurrentSecurityOperations();
    TOKEN_PRIVILEGES privileges{};
    if (!security.LookupPrivilege(nullptr, name, &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES saved{};
    DWORD savedLength = 0;
    // AdjustTokenPrivileges succeeds when the token lacks the privilege; only
    // the last error tells.
    ::SetLastError(ERROR_SUCCESS);
    const BOOL adjusted =
        security.AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), &saved, &savedLength);
    if (!adjusted || ::GetLastError() != ERROR_SUCCESS) return false;
    previous = saved;
    return true;
}

bool OwnerOf(PSECURITY_DESCRIPTOR descriptor, PSID& owner) {
    BOOL defaulted = FALSE;
    owner = nullptr;
    return descriptor && ::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner;
}

}  // namespace

ProcessPrivileges::ProcessPrivileges() {
    SecurityOperations& security = CurrentSecurityOperations();
    kv::unique_handle process(security.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!process) return;
    HANDLE token = nullptr;
    if (security.OpenProcessToken(process.get(), kTokenAccess, &token)) token_.reset(token);
}

ProcessPrivileges::~ProcessPrivileges() { RestoreAll(); }

bool ProcessPrivileges::Enable(const wchar_t* name) {
    if (!token_) return false;
    TOKEN_PRIVILEGES previous{};
    if (!EnablePrivilege(token_.get(), name, previous)) return false;
    // An empty previous state means it was enabled already: nothing to undo.
    if (previous.PrivilegeCount > 0) previous_.push_back(previous);
    return true;
}

bool ProcessPrivileges::RestoreAll() {
    bool restored = true;
    SecurityOperations& security = CurrentSecurityOperations();
    while (!previous_.empty()) {
        TOKEN_PRIVILEGES state = previous_.back();
        previous_.pop_back();
        ::SetLastError(ERROR_SUCCESS);
        if (!security.AdjustTokenPrivileges(token_.get(), FALSE, &state, sizeof(state), nullptr, nullptr) ||
            ::GetLastError() != ERROR_SUCCESS) {
            restored = false;
        }
    }
    return restored;
}

OwnershipTaker::OwnershipTaker(ProcessPrivileges& privileges) : privileges_(privileges) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    ::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                               0, 0, 0, administrators_.put());
    ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
}

int OwnershipTaker::TakeOwnership(const wchar_t* path) {
    if (!path || !privileges_.HasToken()) return NoPathOrToken;
    SecurityOperations& security = CurrentSecurityOperations();
    if (!administrators_ || !security.SetDescriptorOwner(&descriptor_, administrators_.get(), FALSE)) {
        return OwnerNotSet;
    }
    if (!security.WriteFileSecurity(path, OWNER_SECURITY_INFORMATION, &descriptor_)) {
        if (!privileges_.Enable(SE_TAKE_OWNERSHIP_NAME)) return NoPrivilege;
        if (!security.WriteFileSecurity(path, OWNER_SECURITY_INFORMATION, &descriptor_)) return OwnerWriteFailed;
    }
    return Done;
}

bool RestoreOwner(const wchar_t* path, PSECURITY_DESCRIPTOR recorded, ProcessPrivileges& privileges) {
    PSID owner = nullptr;
    if (!path || !OwnerOf(recorded, owner)) return false;
    SECURITY_DESCRIPTOR descriptor{};
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SecurityOperations& security = CurrentSecurityOperations();
    if (!security.SetDescriptorOwner(&descriptor, owner, FALSE)) return false;
    if (security.WriteFileSecurity(path, OWNER_SECURITY_INFORMATION, &descriptor)) return true;
    return privileges.Enable(SE_RESTORE_NAME) &&
           security.WriteFileSecurity(path, OWNER_SECURITY_INFORMATION, &descriptor);
}
