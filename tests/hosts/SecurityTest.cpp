// The descriptor holder, the ownership step and the privilege, against the
// recording stand-in for the security calls.
#include <gtest/gtest.h>

#include "HostsFileChecker.h"
#include "HostsTestSupport.h"
#include "OwnershipTaker.h"
#include "RecordingSecurity.h"
#include "SecurityAttributes.h"

namespace {

const wchar_t kHostsSddl[] = L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
const wchar_t kObject[] = L"C:\\fake\\etc";

bool IsProtected(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return ::GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED);
}

TEST(SecurityAttributes, LoadsTheDaclOfAFileAndWritesItBackAsItWas) {
    RecordingSecurity security;
    security.object(kObject).dacl = L"D:P(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
    SecurityAttributes holder;
    ASSERT_TRUE(holder.LoadFromFile(kObject));
    ASSERT_FALSE(holder.empty());
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), holder.get()->nLength);
    EXPECT_FALSE(holder.get()->bInheritHandle);
    EXPECT_EQ(holder.descriptor(), holder.get()->lpSecurityDescriptor);

    security.object(kObject).dacl = L"D:(A;;FA;;;WD)";
    ASSERT_TRUE(holder.ApplyToFile(kObject));
    EXPECT_EQ(L"D:P(A;;FA;;;BA)(A;;0x1200a9;;;BU)", security.object(kObject).dacl);
}

TEST(SecurityAttributes, AFailedLoadLeavesTheHolderEmptyAndANullPathLeavesItAlone) {
    RecordingSecurity security;
    security.object(kObject);
    SecurityAttributes holder;
    ASSERT_TRUE(holder.LoadFromFile(kObject));
    EXPECT_FALSE(holder.LoadFromFile(nullptr));
    EXPECT_FALSE(holder.empty());

    EXPECT_FALSE(holder.LoadFromFile(L"C:\\fake\\missing"));
    EXPECT_TRUE(holder.empty());
    EXPECT_FALSE(holder.ApplyToFile(kObject));
    EXPECT_EQ(0, security.count(L"dacl "));

    EXPECT_FALSE(holder.LoadFromSddl(L"D:(this is not SDDL", false));
    EXPECT_TRUE(holder.empty());
}

TEST(SecurityAttributes, SddlWithoutKeptInheritanceIsProtected) {
    RecordingSecurity security;
    SecurityAttributes holder;
    ASSERT_TRUE(holder.LoadFromSddl(kHostsSddl, false));
    EXPECT_TRUE(IsProtected(holder.descriptor()));
    ASSERT_TRUE(holder.LoadFromSddl(kHostsSddl, true));
    EXPECT_FALSE(IsProtected(holder.descriptor()));
}

TEST(SecurityAttributes, AFailedControlChangeIsReportedButKeepsTheDescriptor) {
    RecordingSecurity security;
    security.failControl = true;
    SecurityAttributes holder;
    EXPECT_FALSE(holder.LoadFromSddl(kHostsSddl, false));
    EXPECT_FALSE(holder.empty());
}

TEST(OwnershipTaker, WritesTheNullDaclDirectlyWhenAllowedAndLeavesTheOwner) {
    RecordingSecurity security;
    security.object(kObject).daclWritable = true;
    EXPECT_EQ(0, OwnershipTaker().TakeOwnership(kObject));
    EXPECT_EQ(std::vector<std::wstring>{std::wstring(L"dacl ") + kObject + L" NULL"}, security.events);
    EXPECT_FALSE(security.object(kObject).ownedByAdministrators);
}

TEST(OwnershipTaker, MakesTheAdministratorsOwnerFirstWhenTheDaclIsNotWritable) {
    RecordingSecurity security;
    FakeObject& object = security.object(kObject);
    object.daclWritable = false;
    object.ownerWritable = true;
    EXPECT_EQ(0, OwnershipTaker().TakeOwnership(kObject));
    EXPECT_TRUE(object.ownedByAdministrators);
    EXPECT_EQ(0, security.count(L"privilege"));
    EXPECT_EQ(kNullDacl, object.dacl);
}

TEST(OwnershipTaker, EnablesThePrivilegeOnlyWhenTheOwnerWriteIsRefused) {
    RecordingSecurity security;
    FakeObject& object = security.object(kObject);
    object.daclWritable = false;
    const std::wstring path(kObject);
    EXPECT_EQ(0, OwnershipTaker().TakeOwnership(kObject));
    EXPECT_EQ((std::vector<std::wstring>{L"denied-dacl " + path, L"denied-owner " + path, L"privilege",
                                         L"owner " + path, L"dacl " + path + L" NULL"}),
              security.events);
}

struct FailureCase {
    const char* why;
    std::function<void(RecordingSecurity&, FakeObject&)> arrange;
    const wchar_t* path;
    int result;
};

TEST(OwnershipTaker, ReportsTheStepThatFailed) {
    const FailureCase cases[] = {
        {"no path", [](RecordingSecurity&, FakeObject&) {}, nullptr, 2},
        {"own process not opened", [](RecordingSecurity& s, FakeObject&) { s.failOpenProcess = true; }, kObject, 2},
        {"token not opened", [](RecordingSecurity& s, FakeObject&) { s.failOpenToken = true; }, kObject, 2},
        {"owner not put into the descriptor",
         [](RecordingSecurity& s, FakeObject&) { s.failOwnerInDescriptor = true; }, kObject, 3},
        {"privilege not assigned", [](RecordingSecurity& s, FakeObject&) { s.privilegeNotHeld = true; }, kObject, 4},
        {"privilege unknown", [](RecordingSecurity& s, FakeObject&) { s.failLookup = true; }, kObject, 4},
        {"owner refused with the privilege",
         [](RecordingSecurity&, FakeObject& o) { o.ownerWritableWithPrivilege = false; }, kObject, 5},
        {"null DACL refused after the owner change",
         [](RecordingSecurity&, FakeObject& o) { o.ownerMayWriteDacl = false; }, kObject, 6},
    };
    for (const FailureCase& c : cases) {
        RecordingSecurity security;
        FakeObject& object = security.object(kObject);
        object.daclWritable = false;
        c.arrange(security, object);
        EXPECT_EQ(c.result, OwnershipTaker().TakeOwnership(c.path)) << c.why;
        if (c.result < 6) {
            EXPECT_FALSE(object.ownedByAdministrators) << c.why;
        }
        EXPECT_NE(kNullDacl, object.dacl) << c.why;
    }
}

TEST(EnableTakeOwnershipPrivilege, CountsAPrivilegeTheTokenDoesNotHoldAsFailure) {
    RecordingSecurity security;
    HANDLE token = ::GetCurrentProcess();
    EXPECT_TRUE(EnableTakeOwnershipPrivilege(token));
    EXPECT_EQ(1, security.count(L"privilege"));
    EXPECT_EQ(0, security.count(L"privilege-malformed"));
    security.privilegeNotHeld = true;
    EXPECT_FALSE(EnableTakeOwnershipPrivilege(token));
    security.privilegeNotHeld = false;
    security.failLookup = true;
    EXPECT_FALSE(EnableTakeOwnershipPrivilege(token));
}

TEST(SetSddlAttributes, WritesTheDaclDirectlyWithoutAnyOwnershipStep) {
    RecordingSecurity security;
    security.object(kObject);
    HostsFileChecker checker;
    SecurityAttributes fixed;
    ASSERT_TRUE(fixed.LoadFromSddl(kHostsSddl, false));
    ASSERT_TRUE(checker.SetSddlAttributes(fixed, kObject));
    EXPECT_EQ(L"D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", security.object(kObject).dacl);
    EXPECT_FALSE(security.object(kObject).ownedByAdministrators);
    EXPECT_EQ(1u, security.events.size());
}

TEST(SetSddlAttributes, TakesOwnershipAndWritesTheDaclOverTheNullOne) {
    RecordingSecurity security;
    security.object(kObject).daclWritable = false;
    HostsFileChecker checker;
    SecurityAttributes fixed;
    ASSERT_TRUE(fixed.LoadFromSddl(kHostsSddl, false));
    ASSERT_TRUE(checker.SetSddlAttributes(fixed, kObject));
    EXPECT_TRUE(security.object(kObject).ownedByAdministrators);
    const std::vector<std::wstring> writes = security.daclWritesTo(kObject);
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(kNullDacl, writes[0]);
    EXPECT_EQ(L"D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", writes[1]);
}

TEST(SetSddlAttributes, AFailedOwnershipStepChangesNothing) {
    RecordingSecurity security;
    FakeObject& object = security.object(kObject);
    object.daclWritable = false;
    object.ownerWritableWithPrivilege = false;
    const std::wstring before = object.dacl;
    HostsFileChecker checker;
    SecurityAttributes fixed;
    ASSERT_TRUE(fixed.LoadFromSddl(kHostsSddl, false));
    EXPECT_FALSE(checker.SetSddlAttributes(fixed, kObject));
    EXPECT_EQ(before, object.dacl);
}

TEST(SetSddlAttributes, NeverLeavesTheNullDaclOfTheOwnershipStepBehind) {
    RecordingSecurity security;
    security.object(kObject).daclWritable = false;
    security.refusedDacls.insert(L"D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)");
    HostsFileChecker checker;
    SecurityAttributes fixed;
    ASSERT_TRUE(fixed.LoadFromSddl(kHostsSddl, false));
    EXPECT_FALSE(checker.SetSddlAttributes(fixed, kObject));
    const std::wstring dacl = security.object(kObject).dacl;
    EXPECT_NE(kNullDacl, dacl);
    EXPECT_EQ(std::wstring::npos, dacl.find(L";;;WD)"));
    EXPECT_NE(std::wstring::npos, dacl.find(L"(A;;FA;;;BA)"));
    EXPECT_EQ(L'P', dacl[2]);
}

}  // namespace
