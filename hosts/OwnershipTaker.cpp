#include "OwnershipTaker.h"

#include "SecurityOperations.h"

namespace {
const DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
}  // namespace

OwnershipTaker::OwnershipTaker() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    ::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                               0, 0, 0, administrators_.put());

    SecurityOperations& security = CurrentSecurityOperations();
    kv::unique_handle process(security.OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (process) {
        HANDLE token = nullptr;
        if (security.OpenProcessToken(process.get(), kTokenAccess, &token)) token_.reset(token);
    }

    ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
}

int OwnershipTaker::TakeOwnership(const wchar_t* path) {
    if (!path || !token_) return NoPathOrToken;
    SecurityOperations& security = CurrentSecurityOperations();
    if (security.WriteFileSecurity(path, DACL_SECURITY_INFORMATION, &descriptor_)) return Done;

    if (!administrators_ || !security.SetDescriptorOwner(&descriptor_, administrators_.get(), FALSE)) {
        return OwnerNotSet;
    }
    if (!security.WriteFileSecurity(path, OWNER_SECURITY_INFORMATION, &descriptor_)) {
        if (!EnableTakeOwnershipPrivilege(token_.get())) return NoPrivilege;
        if (!security.WriteFileSecurity(path, OWNER_SECURITY_INFORMATION, &descriptor_)) return OwnerWriteFailed;
    }
    return security.WriteFileSecurity(path, DACL_SECURITY_INFORMATION, &descriptor_) ? Done : DaclWriteFailed;
}

bool EnableTakeOwnershipPrivilege(HANDLE token) {
    SecurityOperations& security = CurrentSecurityOperations();
    TOKEN_PRIVILEGES privileges{};
    if (!security.LookupPrivilege(nullptr, SE_TAKE_OWNERSHIP_NAME, &privileges.Privileges[0].Luid)) {
        return false;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds when the token lacks the privilege; only
    // the last error tells.
    ::SetLastError(ERROR_SUCCESS);
    const BOOL adjusted =
        security.AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    return adjusted && ::GetLastError() == ERROR_SUCCESS;
}
