// The administrator decision over a recording table of the system calls:
// Wine reports every process as an administrator, so the refusals cannot be
// reached for real there.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "product/AdministratorCheck.h"

namespace {

class RecordingMembership : public MembershipOperations {
public:
    BOOL allocateResult = TRUE;
    BOOL checkResult = TRUE;
    BOOL member = TRUE;

    std::vector<std::string> calls;
    SID_IDENTIFIER_AUTHORITY authority{};
    BYTE subAuthorityCount = 0;
    DWORD subAuthorities[2] = {};
    HANDLE checkedToken = INVALID_HANDLE_VALUE;
    PSID checkedSid = nullptr;
    PSID freedSid = nullptr;

    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY auth, BYTE count, DWORD s0, DWORD s1,
                                  PSID* sid) override {
        calls.push_back("allocate");
        authority = *auth;
        subAuthorityCount = count;
        subAuthorities[0] = s0;
        subAuthorities[1] = s1;
        if (!allocateResult) return FALSE;
        *sid = &fakeSid_;
        return TRUE;
    }
    BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) override {
        calls.push_back("check");
        checkedToken = token;
        checkedSid = sid;
        if (!checkResult) return FALSE;
        *isMember = member;
        return TRUE;
    }
    void FreeSid(PSID sid) override {
        calls.push_back("free");
        freedSid = sid;
    }

    PSID fakeSid() { return &fakeSid_; }

private:
    int fakeSid_ = 0;
};

using Calls = std::vector<std::string>;

TEST(IsUserAdministrator, AsksForTheBuiltinAdministratorsGroupWithTheThreadsToken) {
    RecordingMembership membership;
    EXPECT_TRUE(IsUserAdministrator(membership));
    const BYTE ntAuthority[6] = {0, 0, 0, 0, 0, 5};
    EXPECT_EQ(0, memcmp(ntAuthority, membership.authority.Value, sizeof(ntAuthority)));
    EXPECT_EQ(2, membership.subAuthorityCount);
    EXPECT_EQ(32u, membership.subAuthorities[0]);
    EXPECT_EQ(544u, membership.subAuthorities[1]);
    EXPECT_EQ(nullptr, membership.checkedToken);
    EXPECT_EQ(membership.fakeSid(), membership.checkedSid);
    EXPECT_EQ((Calls{"allocate", "check", "free"}), membership.calls);
    EXPECT_EQ(membership.fakeSid(), membership.freedSid);
}

TEST(IsUserAdministrator, NonMemberIsRefusedAndTheSidFreed) {
    RecordingMembership membership;
    membership.member = FALSE;
    EXPECT_FALSE(IsUserAdministrator(membership));
    EXPECT_EQ((Calls{"allocate", "check", "free"}), membership.calls);
}

TEST(IsUserAdministrator, FailingMembershipCheckCountsAsNotAMember) {
    RecordingMembership membership;
    membership.checkResult = FALSE;
    membership.member = TRUE;  // what a failed call leaves must not be read
    EXPECT_FALSE(IsUserAdministrator(membership));
    EXPECT_EQ((Calls{"allocate", "check", "free"}), membership.calls);
}

TEST(IsUserAdministrator, SidThatCannotBeBuiltGivesFalseWithoutACheck) {
    RecordingMembership membership;
    membership.allocateResult = FALSE;
    EXPECT_FALSE(IsUserAdministrator(membership));
    EXPECT_EQ((Calls{"allocate"}), membership.calls);
}

TEST(IsUserAdministrator, SystemTableBuildsTheAdministratorsSid) {
    MembershipOperations& system = SystemMembershipOperations();
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(system.AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                DOMAIN_ALIAS_RID_ADMINS, &sid));
    ASSERT_TRUE(::IsValidSid(sid));
    EXPECT_TRUE(::IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
    BOOL member = 2;
    EXPECT_TRUE(system.CheckTokenMembership(nullptr, sid, &member));
    EXPECT_TRUE(member == TRUE || member == FALSE);
    system.FreeSid(sid);
}

}  // namespace
