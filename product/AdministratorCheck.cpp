#include "product/AdministratorCheck.h"

namespace {

class Win32MembershipOperations : public MembershipOperations {
public:
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount,
                                  DWORD subAuthority0, DWORD subAuthority1, PSID* sid) override {
        return ::AllocateAndInitializeSid(authority, subAuthorityCount, subAuthority0, subAuthority1, 0, 0, 0, 0, 0,
                                          0, sid);
    }
    BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) override {
        return ::CheckTokenMembership(token, sid, isMember);
    }
    void FreeSid(PSID sid) override { ::FreeSid(sid); }
};

// The SID is freed through the same table that allocated it.
class OwnedSid {
public:
    OwnedSid(MembershipOperations& operations, PSID sid) : operations_(operations), sid_(sid) {}
    OwnedSid(const OwnedSid&) = delete;
    OwnedSid& operator=(const OwnedSid&) = delete;
    ~OwnedSid() { operations_.FreeSid(sid_); }
    PSID get() const { return sid_; }

private:
    MembershipOperations& operations_;
    PSID sid_;
};

}  // namespace

MembershipOperations& SystemMembershipOperations() {
    static Win32MembershipOperations operations;
    return operations;
}

bool IsUserAdministrator(MembershipOperations& operations) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!operations.AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                             DOMAIN_ALIAS_RID_ADMINS, &sid) ||
        sid == nullptr) {
        return false;
    }
    OwnedSid administrators(operations, sid);
    BOOL isMember = FALSE;
    // A null token: the thread's effective token, which for a filtered
    // administrator does not enable the group.
    if (!operations.CheckTokenMembership(nullptr, administrators.get(), &isMember)) return false;
    return isMember != FALSE;
}
