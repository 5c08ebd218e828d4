// The check and the repair on real files in a hosts folder of the test's own,
// with the security calls recorded (the platform under test keeps no DACLs)
// and, once, the real ones.
#include <functional>

#include "common/UniqueHandle.h"
#include "hosts/HostsFileChecker.h"
#include "hosts/HostsRepair.h"
#include "hosts/RepairRecord.h"
#include "tests/hosts/HostsLocationFixture.h"
#include "tests/hosts/RecordingSecurity.h"

using testsupport::ConfigureTestLog;
using testsupport::Exists;
using testsupport::LogCapture;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

namespace {

const DWORD kRhs = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const wchar_t kEtcDacl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t kHostsDacl[] = L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";

const std::string kSeeded =
    "# hosts of this machine\n"
    "127.0.0.1 localhost\n"
    "127.0.0.1 k-vantor-update\n"
    "\t0.0.0.0 KVANTOR.example # blocked\n"
    "10.0.0.7 caf\xe9.intranet\n"
    "127.0.0.1 localhost # k-vantor mirror\n";
const std::string kSeededBackup =
    "# hosts of this machine\r\n127.0.0.1 localhost\r\n127.0.0.1 k-vantor-update\r\n"
    "\t0.0.0.0 KVANTOR.example # blocked\r\n10.0.0.7 caf\xe9.intranet\r\n"
    "127.0.0.1 localhost # k-vantor mirror\r\n";
const std::string kSeededRepaired =
    "# hosts of this machine\r\n127.0.0.1 localhost\r\n10.0.0.7 caf\xe9.intranet\r\n"
    "127.0.0.1 localhost # k-vantor mirror\r\n";

class HostsRepairTest : public HostsLocationFixture {
protected:
    void SetUp() override {
        HostsLocationFixture::SetUp();
        ConfigureTestLog(L"hosts_repair");
    }
    void TearDown() override {
        // A test that stopped half-way leaves no record for the next one.
        RepairRecord::Remove();
        security_.reset();
        HostsLocationFixture::TearDown();
    }

    // The recording security calls, with the test folder's DACLs set up.
    RecordingSecurity& fake() {
        if (!security_) {
            security_.reset(new RecordingSecurity());
            security_->requireRealFile = true;
            security_->object(etc()).dacl = kEtcDacl;
            security_->object(hosts()).dacl = kHostsDacl;
            security_->watchedFile = hosts();
        }
        return *security_;
    }

    std::unique_ptr<RecordingSecurity> security_;
};

TEST_F(HostsRepairTest, RemovesOnlyTheMakersLinesAndBacksUpTheLinesAsRead) {
    struct Case {
        const char* why;
        std::string before;
        std::string after;
        std::string backup;
    };
    const Case cases[] = {
        {"LF lines with a final terminator", kSeeded, kSeededRepaired, kSeededBackup},
        {"CR LF lines without a final terminator", "a.b 1\r\n0.0.0.0 kvantor\r\n   #x kvantor\r\nlast",
         "a.b 1\r\n   #x kvantor\r\nlast", "a.b 1\r\n0.0.0.0 kvantor\r\n   #x kvantor\r\nlast"},
        {"every line corrupted, final terminator", "1.1.1.1 kvantor\n2.2.2.2 k-vantor\n", "",
         "1.1.1.1 kvantor\r\n2.2.2.2 k-vantor\r\n"},
        {"every line corrupted, no final terminator", "1.1.1.1 kvantor\n2.2.2.2 k-vantor", "",
         "1.1.1.1 kvantor\r\n2.2.2.2 k-vantor"},
    };
    for (const Case& c : cases) {
        fake();
        WriteBytes(hosts(), c.before);
        EXPECT_EQ(HostsResult::NeedsRepair, HostsFileNeedsRepair()) << c.why;
        EXPECT_EQ(HostsResult::Repaired, FixFile()) << c.why;
        EXPECT_EQ(c.after, ReadBytes(hosts())) << c.why;
        EXPECT_EQ(c.backup, ReadBytes(backup())) << c.why;
        EXPECT_EQ(HostsResult::Healthy, HostsFileNeedsRepair()) << c.why;
        security_.reset();
    }
}

TEST_F(HostsRepairTest, LeavesAHealthyFileAsItIs) {
    struct Case {
        const char* why;
        std::string content;
    };
    const Case cases[] = {
        {"comments and empty lines only", "# k-vantor\n\n   # kvantor\n"},
        {"no pattern at all", "127.0.0.1 localhost\n::1 localhost"},
        {"an empty file", ""},
        {"UTF-16 text never matches", std::string("\xff\xfe" "k\0v\0a\0n\0t\0o\0r\0\r\0\n\0", 20)},
    };
    for (const Case& c : cases) {
        fake();
        WriteBytes(hosts(), c.content);
        EXPECT_EQ(HostsResult::Healthy, HostsFileNeedsRepair()) << c.why;
        EXPECT_EQ(HostsResult::Unchanged, FixFile()) << c.why;
        EXPECT_TRUE(FixHosts()) << c.why;
        EXPECT_EQ(c.content, ReadBytes(hosts())) << c.why;
        EXPECT_FALSE(Exists(backup())) << c.why;
        security_.reset();
    }
}

TEST_F(HostsRepairTest, AMissingFileIsHealthyAndCannotBeOpenedUp) {
    fake();
    EXPECT_EQ(HostsResult::Healthy, HostsFileNeedsRepair());
    EXPECT_TRUE(FixHosts());
    LogCapture log;
    EXPECT_EQ(HostsResult::Error, FixFile());
    EXPECT_TRUE(log.contains(L"HostsFileChecker::SetPermission: Failed to get SA etc or hosts file"));
    EXPECT_FALSE(Exists(hosts()));
}

TEST_F(HostsRepairTest, AFileWithTextAfterAnEndOfFileMarkIsNeitherReadNorRewritten) {
    fake();
    const std::string content = "0.0.0.0 kvantor\r\n\x1a" "10.0.0.1 intranet\r\n";
    WriteBytes(hosts(), content);
    EXPECT_EQ(HostsResult::Error, HostsFileNeedsRepair());
    LogCapture log;
    EXPECT_TRUE(FixHosts());
    EXPECT_TRUE(log.contains(L"holds text after an end-of-file mark"));
    EXPECT_EQ(HostsResult::Error, FixFile());
    EXPECT_EQ(content, ReadBytes(hosts()));
}

TEST_F(HostsRepairTest, FixHostsRepairsAndLetsTheInstallGoOn) {
    fake();
    WriteBytes(hosts(), kSeeded);
    LogCapture log;
    EXPECT_TRUE(FixHosts());
    EXPECT_TRUE(log.contains(L"FixHosts: Hosts are malformed, try to fix them"));
    EXPECT_TRUE(log.contains(L"FixHosts: Malformed hosts has been fixed"));
    EXPECT_EQ(std::string::npos, ReadBytes(hosts()).find("k-vantor-update"));
    EXPECT_EQ(std::wstring(kEtcDacl), fake().object(etc()).dacl);
    EXPECT_EQ(std::wstring(kHostsDacl), fake().object(hosts()).dacl);
}

TEST_F(HostsRepairTest, OpensUpFolderThenFileThenAttributesAndRestoresInTheOtherOrder) {
    RecordingSecurity& security = fake();
    WriteBytes(hosts(), kSeeded);
    ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), kRhs));
    EXPECT_EQ(HostsResult::Repaired, FixFile());

    // Each DACL write notes the file's read-only, hidden and system bits.
    std::vector<std::wstring> writes;
    for (const std::wstring& event : security.events) {
        if (event.compare(0, 5, L"dacl ") == 0) writes.push_back(event);
    }
    ASSERT_EQ(4u, writes.size());
    EXPECT_EQ(0u, writes[0].find(L"dacl " + etc() + L" D:PAI(A;;FA;;;S-1-5-80-956008885-"));
    EXPECT_EQ(L"7", writes[0].substr(writes[0].rfind(L' ') + 1));
    // The file's text has no "P", its descriptor is protected all the same.
    EXPECT_EQ(L"dacl " + hosts() + L" D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU) 7", writes[1]);
    // Back: the attributes first, then the folder, then the file.
    EXPECT_EQ(L"dacl " + etc() + L" " + kEtcDacl + L" 7", writes[2]);
    EXPECT_EQ(L"dacl " + hosts() + L" " + kHostsDacl + L" 7", writes[3]);
    // The fixed folder DACL withholds WRITE_DAC: the folder is owned for its
    // restore only and then handed back; the file is never owned.
    EXPECT_EQ(1, security.count(L"owner-back " + etc() + L" S-1-5-18"));
    EXPECT_EQ(0, security.count(L"owner " + hosts()));

    EXPECT_EQ(kRhs, ::GetFileAttributesW(hosts().c_str()) & kRhs);
    // The rewrite of a read-only file worked: the attributes were cleared for it.
    EXPECT_EQ(std::string::npos, ReadBytes(hosts()).find("k-vantor-update"));
}

TEST_F(HostsRepairTest, TouchesOnlyTheAttributesThatWereSet) {
    fake();
    WriteBytes(hosts(), kSeeded);
    ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), FILE_ATTRIBUTE_READONLY));
    HostsFileChecker checker;
    SecurityAttributes etcHolder;
    SecurityAttributes hostsHolder;
    ASSERT_TRUE(checker.SetPermission(etcHolder, hostsHolder, HostsFileChecker::Administrator));
    EXPECT_TRUE(checker.savedReadOnly());
    EXPECT_FALSE(checker.savedHidden());
    EXPECT_FALSE(checker.savedSystem());
    EXPECT_EQ(0u, ::GetFileAttributesW(hosts().c_str()) & kRhs);
    ASSERT_TRUE(checker.SetPermission(etcHolder, hostsHolder, HostsFileChecker::Restore));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), ::GetFileAttributesW(hosts().c_str()) & kRhs);
}

TEST_F(HostsRepairTest, AttributesThatCannotBeRestoredEndTheRestorePhase) {
    fake();
    WriteBytes(hosts(), kSeeded);
    ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), kRhs));
    HostsFileChecker checker;
    const File file(hosts());
    ASSERT_TRUE(checker.SetHostsFileAttributes(file, HostsFileChecker::Administrator));
    ASSERT_TRUE(::DeleteFileW(hosts().c_str()));
    LogCapture log;
    EXPECT_FALSE(checker.SetHostsFileAttributes(file, HostsFileChecker::Restore));
    EXPECT_TRUE(log.contains(L"Failed to change read only attribute of hosts file"));
}

TEST_F(HostsRepairTest, TakesOwnershipOfAFolderWhoseDaclIsNotWritable) {
    RecordingSecurity& security = fake();
    security.object(etc()).daclWritable = false;
    WriteBytes(hosts(), kSeeded);
    EXPECT_EQ(HostsResult::Repaired, FixFile());
    // The fixed DACL, then the recorded one; never a null one between.
    const std::vector<std::wstring> etcWrites = security.daclWritesTo(etc());
    ASSERT_EQ(2u, etcWrites.size());
    EXPECT_EQ(0u, etcWrites[0].find(L"D:PAI(A;;FA;;;S-1-5-80-"));
    EXPECT_EQ(std::wstring(kEtcDacl), etcWrites[1]);
    EXPECT_EQ(0, security.count(L"dacl " + etc() + L" NULL"));
    // The owner and the privileges are what they were.
    EXPECT_FALSE(security.object(etc()).ownedByAdministrators);
    EXPECT_EQ(L"S-1-5-18", security.object(etc()).owner);
    EXPECT_FALSE(security.privilegeEnabled);
    EXPECT_FALSE(security.restorePrivilegeEnabled);
}

TEST_F(HostsRepairTest, AFirstPhaseThatFailsPartWayPutsOwnersDaclsAndPrivilegesBack) {
    struct Case {
        const char* why;
        std::function<void(RecordingSecurity&)> arrange;
    };
    const Case cases[] = {
        {"folder DACL refused after its ownership was taken",
         [this](RecordingSecurity& s) {
             s.object(etc()).daclWritable = false;
             s.object(etc()).ownerMayWriteDacl = false;
         }},
        {"file DACL refused after the folder's and the file's ownership were taken",
         [this](RecordingSecurity& s) {
             s.object(etc()).daclWritable = false;
             s.object(hosts()).daclWritable = false;
             s.refusedDacls.insert(L"D:PAI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)");
         }},
        {"file ownership refused", [this](RecordingSecurity& s) {
             s.object(hosts()).daclWritable = false;
             s.object(hosts()).ownerWritableWithPrivilege = false;
         }},
    };
    for (const Case& c : cases) {
        RecordingSecurity& security = fake();
        c.arrange(security);
        WriteBytes(hosts(), kSeeded);
        ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), FILE_ATTRIBUTE_HIDDEN));
        EXPECT_FALSE(FixHosts()) << c.why;
        EXPECT_EQ(kSeeded, ReadBytes(hosts())) << c.why;
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), ::GetFileAttributesW(hosts().c_str()) & kRhs) << c.why;
        for (const std::wstring& path : {etc(), hosts()}) {
            EXPECT_EQ(path == etc() ? kEtcDacl : kHostsDacl, security.object(path).dacl) << c.why;
            EXPECT_FALSE(security.object(path).ownedByAdministrators) << c.why;
            EXPECT_EQ(L"S-1-5-18", security.object(path).owner) << c.why;
        }
        EXPECT_EQ(0, security.count(L"NULL")) << c.why;
        EXPECT_FALSE(security.privilegeEnabled) << c.why;
        EXPECT_FALSE(security.restorePrivilegeEnabled) << c.why;
        security_.reset();
        ::SetFileAttributesW(hosts().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(HostsRepairTest, AFailedRestoreFailsTheRepairAlthoughTheFileIsRepaired) {
    RecordingSecurity& security = fake();
    // Once the fixed DACL stands, not even the folder's owner may write another.
    security.object(etc()).ownerMayWriteDacl = false;
    WriteBytes(hosts(), kSeeded);
    EXPECT_EQ(HostsResult::NeedsRepair, HostsFileNeedsRepair());
    LogCapture log;
    EXPECT_FALSE(FixHosts());
    EXPECT_TRUE(log.contains(L"FixHosts: Malformed hosts cannot be fixed, ret = 4"));
    EXPECT_TRUE(log.contains(L"Failed to fix attributes of etc folder"));
    // The steps after the failed one are still taken; owners and privileges go back.
    EXPECT_EQ(std::wstring(kHostsDacl), security.object(hosts()).dacl);
    for (const std::wstring& path : {etc(), hosts()}) {
        EXPECT_FALSE(security.object(path).ownedByAdministrators) << path;
        EXPECT_EQ(L"S-1-5-18", security.object(path).owner) << path;
    }
    EXPECT_FALSE(security.privilegeEnabled || security.restorePrivilegeEnabled);
    EXPECT_EQ(std::string::npos, ReadBytes(hosts()).find("k-vantor-update"));
    EXPECT_EQ(kSeeded.size() + 6, ReadBytes(backup()).size());
}

TEST_F(HostsRepairTest, AFailedFirstPhaseLeavesTheFileAloneAndSkipsTheRestore) {
    RecordingSecurity& security = fake();
    FakeObject& file = security.object(hosts());
    file.daclWritable = false;
    file.ownerWritableWithPrivilege = false;
    WriteBytes(hosts(), kSeeded);
    ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), FILE_ATTRIBUTE_READONLY));
    LogCapture log;
    EXPECT_FALSE(FixHosts());
    EXPECT_TRUE(log.contains(L"Failed to fix attributes of hosts file"));
    EXPECT_TRUE(log.contains(L"HostsFileChecker::SetPermission: The changes made so far have been undone"));
    EXPECT_EQ(kSeeded, ReadBytes(hosts()));
    EXPECT_FALSE(Exists(backup()));
    // The folder gets its recorded DACL back; the file's was never changed.
    EXPECT_EQ((std::vector<std::wstring>{security.daclWritesTo(etc())[0], kEtcDacl}), security.daclWritesTo(etc()));
    EXPECT_TRUE(security.daclWritesTo(hosts()).empty());
    EXPECT_TRUE(::GetFileAttributesW(hosts().c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(HostsRepairTest, RefusesAPhaseThatIsNeitherOfTheTwo) {
    RecordingSecurity& security = fake();
    WriteBytes(hosts(), kSeeded);
    HostsFileChecker checker;
    SecurityAttributes etcHolder;
    SecurityAttributes hostsHolder;
    LogCapture log;
    EXPECT_FALSE(checker.SetPermission(etcHolder, hostsHolder, 2));
    EXPECT_TRUE(log.contains(L"HostsFileChecker::SetPermission: Failed to fix attributes, permissions not to set"));
    EXPECT_TRUE(security.events.empty());
    EXPECT_TRUE(etcHolder.empty());
}

TEST_F(HostsRepairTest, AFileThatBecameHealthyBeforeTheRepairDoesNotBlockTheInstall) {
    RecordingSecurity& security = fake();
    WriteBytes(hosts(), kSeeded);
    // Another program cleans the file while the repair opens up the rights.
    security.onRead = [this] { WriteBytes(hosts(), "127.0.0.1 localhost\n"); };
    LogCapture log;
    EXPECT_TRUE(FixHosts());
    EXPECT_TRUE(log.contains(L"FixHosts: Hosts need no repair any more"));
    EXPECT_EQ("127.0.0.1 localhost\n", ReadBytes(hosts()));
    EXPECT_FALSE(Exists(backup()));
}

TEST_F(HostsRepairTest, NoBackupMeansNoRewrite) {
    fake();
    WriteBytes(hosts(), kSeeded);
    ASSERT_TRUE(::CreateDirectoryW(backup().c_str(), nullptr));
    LogCapture log;
    EXPECT_FALSE(FixHosts());
    EXPECT_TRUE(log.contains(L"HostsFix::processContent: Cannot save backup to " + backup()));
    EXPECT_EQ(kSeeded, ReadBytes(hosts()));
}

TEST_F(HostsRepairTest, AFileThatCannotBeWrittenIsLeftWhole) {
    fake();
    WriteBytes(hosts(), kSeeded);
    // Another program holds the file open for reading only.
    kv::unique_hfile reader(::CreateFileW(hosts().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    LogCapture log;
    EXPECT_EQ(HostsResult::Error, FixFile());
    reader.reset();
    EXPECT_TRUE(log.contains(L"HostsFix::processContent: File " + hosts() + L" cannot be fixed!"));
    EXPECT_EQ(kSeeded, ReadBytes(hosts()));
    EXPECT_NE(std::string::npos, ReadBytes(backup()).find("k-vantor-update"));
}

// Writes part of the new content and then fails, as a full disk would, at
// the given call (the backup is the first, the hosts file the second).
class FailingPartWay : public HostsFix {
public:
    explicit FailingPartWay(size_t failingCall) : failingCall_(failingCall) {}
    mutable std::vector<std::wstring> targets;

protected:
    int writeLines(const File& file, const LineList& lines) const override {
        targets.push_back(file.path());
        if (targets.size() != failingCall_) return HostsFix::writeLines(file, lines);
        file.setContent(LineList(lines.begin(), lines.begin() + 1));
        return 3;
    }

private:
    size_t failingCall_;
};

TEST_F(HostsRepairTest, TheBackupAndTheFileAreEachReplacedWholeOrNotAtAll) {
    struct Case {
        const char* why;
        size_t failingCall;
        int result;
        size_t replaced;  // backup, then the file
    };
    const Case cases[] = {
        {"the backup's write fails", 1, 2, 0},
        {"the file's write fails", 2, 2, 1},
        {"nothing fails", 0, 1, 2},
    };
    const std::string formerBackup = "from an earlier repair\r\n";
    for (const Case& c : cases) {
        fake();
        WriteBytes(hosts(), kSeeded);
        WriteBytes(backup(), formerBackup);
        FailingPartWay* fix = new FailingPartWay(c.failingCall);
        HostsFileChecker checker{std::unique_ptr<HostsFix>(fix)};
        EXPECT_EQ(c.result, checker.RepairWithPermissions()) << c.why;
        EXPECT_EQ(c.replaced > 0 ? kSeededBackup : formerBackup, ReadBytes(backup())) << c.why;
        EXPECT_EQ(c.replaced > 1 ? kSeededRepaired : kSeeded, ReadBytes(hosts())) << c.why;
        for (const std::wstring& temporary : fix->targets) {
            EXPECT_TRUE(temporary != hosts() && temporary != backup() && !Exists(temporary)) << c.why;
        }
        security_.reset();
    }
}

TEST_F(HostsRepairTest, ARepairThatDiedIsUndoneByTheNextRunWhichRemovesItsTemporaryFiles) {
    RecordingSecurity& security = fake();
    // Its DACL is written only once the Administrators own it.
    security.object(etc()).daclWritable = false;
    WriteBytes(hosts(), "127.0.0.1 localhost\n");
    const DWORD bits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), bits));
    {
        // The process dies after opening everything up.
        HostsFileChecker dying;
        SecurityAttributes etcHolder;
        SecurityAttributes hostsHolder;
        ASSERT_TRUE(dying.SetPermission(etcHolder, hostsHolder, HostsFileChecker::Administrator));
    }
    const std::wstring leftovers[] = {etc() + L"\\kvr3F.tmp", etc() + L"\\kvr40.tmp"};
    for (const std::wstring& leftover : leftovers) WriteBytes(leftover, "half");
    ASSERT_NE(std::wstring(kEtcDacl), security.object(etc()).dacl);
    ASSERT_TRUE(security.object(etc()).ownedByAdministrators);

    EXPECT_TRUE(RestoreAfterInterruptedRepair());

    EXPECT_EQ(std::wstring(kEtcDacl), security.object(etc()).dacl);
    EXPECT_EQ(std::wstring(kHostsDacl), security.object(hosts()).dacl);
    EXPECT_FALSE(security.object(etc()).ownedByAdministrators);
    EXPECT_EQ(L"S-1-5-18", security.object(etc()).owner);
    EXPECT_EQ(bits, ::GetFileAttributesW(hosts().c_str()) & kRhs);
    for (const std::wstring& leftover : leftovers) EXPECT_FALSE(Exists(leftover));
    // Undone once: the record is gone with it.
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, RepairRecord::kKey, 0, KEY_READ | KEY_WOW64_32KEY, &key));
}

TEST_F(HostsRepairTest, OwnPatternsReplaceTheAnalyzersListForOneCall) {
    fake();
    const std::string content = "127.0.0.1 localhost\n0.0.0.0 ADSERVER.example\n";
    WriteBytes(hosts(), content);
    const wchar_t* patterns[] = {L"ADSERVER", nullptr};
    EXPECT_EQ(HostsResult::Healthy, HostsFileNeedsRepair());
    EXPECT_EQ(HostsResult::NeedsRepair, HostsFileNeedsRepair(patterns, 2));
    EXPECT_EQ(HostsResult::Unchanged, FixFile(nullptr, 5));
    EXPECT_EQ(HostsResult::Repaired, FixFile(patterns, 1));
    EXPECT_EQ("127.0.0.1 localhost\r\n", ReadBytes(hosts()));
}

TEST_F(HostsRepairTest, RepairsWithTheSystemsOwnSecurityCalls) {
    WriteBytes(hosts(), kSeeded);
    ASSERT_TRUE(::SetFileAttributesW(hosts().c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(FixHosts());
    EXPECT_EQ(kSeededRepaired, ReadBytes(hosts()));
    EXPECT_NE(std::string::npos, ReadBytes(backup()).find("127.0.0.1 k-vantor-update\r\n"));
    EXPECT_TRUE(::GetFileAttributesW(hosts().c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

}  // namespace
