#include "common/TrustedOwner.h"

#include <sddl.h>

#include <vector>

#include "common/UniqueHandle.h"

namespace kv {

namespace {

const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsTrustedInstaller(PSID sid) {
    PSID trustedInstaller = nullptr;
    if (!::ConvertStringSidToSidW(kTrustedInstaller, &trustedInstaller)) return false;
    const unique_hlocal owned(trustedInstaller);
    return ::EqualSid(sid, trustedInstaller) != FALSE;
}

bool IsOwnAccount(PSID sid) {
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD needed = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<unsigned char> buffer(needed);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), needed, &needed)) return false;
    return ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) != FALSE;
}

}  // namespace

bool IsTrustedOwner(PSID sid) {
    if (!sid || !::IsValidSid(sid)) return false;
    return ::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsTrustedInstaller(sid) || IsOwnAccount(sid);
}

bool OnlyTrustedCanWrite(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK writeRights) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!descriptor || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrustedOwner(owner)) {
        return false;
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    // No access list, or a null one, lets everyone in.
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
    const ACCESS_MASK generic = GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry)) return false;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & (writeRights | generic)) == 0) continue;
        if (!IsTrustedOwner(const_cast<DWORD*>(&allowed->SidStart))) return false;
    }
    return true;
}

}  // namespace kv
