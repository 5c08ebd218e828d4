// The descriptor holder, the ownership step and the privilege, against the
// recording stand-in for the security calls.
#include <gtest/gtest.h>

#include "hosts/HostsFileChecker.h"
#include "hosts/OwnershipTaker.h"
#include "hosts/SecurityAttributes.h"
#include "tests/hosts/RecordingSecurity.h"

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

TEST(OwnershipTaker, WritesTheOwnerOnlyAndNeverADacl) {
    RecordingSecurity security;
    FakeObject& object = security.object(kObject);
    object.daclWritable = false;
    object.ownerWritable = true;
    const std::wstring before = object.dacl;
    ProcessPrivileges privileges;
    EXPECT_EQ(0, OwnershipTaker(privileges).TakeOwnership(kObject));
    EXPECT_TRUE(object.ownedByAdministrators);
    EXPECT_EQ(0, security.count(L"privilege"));
    EXPECT_EQ(before, object.dacl);
    EXPECT_EQ(0, security.count(L"dacl "));
}

TEST(OwnershipTaker, EnablesThePrivilegeOnlyWhenTheOwnerWriteIsRefusedAndPutsItBack) {
    RecordingSecurity security;
    FakeObject& object = security.object(kObject);
    object.daclWritable = false;
    const std::wstring path(kObject);
    {
        ProcessPrivileges privileges;
        EXPECT_EQ(0, OwnershipTaker(privileges).TakeOwnership(kObject));
        EXPECT_TRUE(security.privilegeEnabled);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"denied-owner " + path, L"privilege", L"owner " + path,
                                         L"privilege-off take-ownership"}),
              security.events);
    EXPECT_FALSE(security.privilegeEnabled);
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
        {"owner taken, the DACL left to the caller",
         [](RecordingSecurity&, FakeObject& o) { o.ownerMayWriteDacl = false; }, kObject, 0},
    };
    for (const FailureCase& c : cases) {
        RecordingSecurity security;
        FakeObject& object = security.object(kObject);
        object.daclWritable = false;
        c.arrange(security, object);
        ProcessPrivileges privileges;
        EXPECT_EQ(c.result, OwnershipTaker(privileges).TakeOwnership(c.path)) << c.why;
        EXPECT_EQ(c.result == 0, object.ownedByAdministrators) << c.why;
        EXPECT_EQ(0, security.count(L"dacl ")) << c.why;
    }
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

TEST(SetSddlAttributes, TakesOwnershipAndWritesTheIntendedDaclWithNoNullOneBetween) {
    RecordingSecurity security;
    security.object(kObject).daclWritable = false;
    HostsFileChecker checker;
    SecurityAttributes fixed;
    ASSERT_TRUE(fixed.LoadFromSddl(kHostsSddl, false));
    ASSERT_TRUE(checker.SetSddlAttributes(fixed, kObject));
    EXPECT_TRUE(security.object(kObject).ownedByAdministrators);
    EXPECT_EQ(std::vector<std::wstring>{L"D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"},
              security.daclWritesTo(kObject));
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

TEST(SetSddlAttributes, ADaclRefusedAfterTheOwnershipStepLeavesTheFormerOne) {
    RecordingSecurity security;
    FakeObject& object = security.object(kObject);
    object.daclWritable = false;
    const std::wstring before = object.dacl;
    security.refusedDacls.insert(L"D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)");
    HostsFileChecker checker;
    SecurityAttributes fixed;
    ASSERT_TRUE(fixed.LoadFromSddl(kHostsSddl, false));
    EXPECT_FALSE(checker.SetSddlAttributes(fixed, kObject));
    EXPECT_EQ(before, object.dacl);
}

}  // namespace
