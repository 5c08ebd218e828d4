// The operator segmentation and the IPC trigger on the real registry, the
// stand-in IPC library and the stand-in daemon.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/RegistryView.h"
#include "log/Logger.h"
#include "product/DelayLoadResolver.h"
#include "product/QmtIpcImports.h"
#include "product/UpdateTrigger.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TriggerTestSupport.h"

using testsupport::Contains;
using testsupport::TempFolder;
using triggertest::StandInDaemon;
using triggertest::WindowsPath;

namespace {

class TestLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KvQmtLogging::GetLogger().Configure(0, L"Test", L"update_trigger"); }
};
const auto* const kLogEnvironment = ::testing::AddGlobalTestEnvironment(new TestLogEnvironment);

const wchar_t* const kSegmentationsKey = L"SOFTWARE\\K-Vantor\\QMT\\KVAUA\\Segmentations";
const wchar_t* const kLookupKey = L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading\\100";

const char* const kExpectedRecord =
    "target=KV_OVS_IPC_DAEMON_USER code=2007 length=76 reserved=0 payload=666|{\"backend\":true, \"aua_check\":true}";

bool KeyExists(const wchar_t* path) {
    kv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kv::kProductRegistryView, key.put()) !=
        ERROR_SUCCESS) {
        key.release();
        return false;
    }
    return true;
}

// The value's type and stored bytes as a narrow reader sees them.
bool ReadRawOperator(DWORD& type, std::string& bytes) {
    kv::unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\K-Vantor\\QMT\\KVAUA\\Segmentations", 0,
                        KEY_READ | kv::kProductRegistryView, key.put()) != ERROR_SUCCESS) {
        key.release();
        return false;
    }
    char data[64] = {};
    DWORD size = sizeof(data);
    if (::RegQueryValueExA(key.get(), "OPERATOR", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    bytes.assign(data, size);
    return true;
}

class UpgradeActions : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveState();
        // The program's own folder holds no copy of the library: it is found
        // through the registry, or not at all.
        char self[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string beside(self);
        beside.replace(beside.find_last_of('\\') + 1, std::string::npos, "QMTIPC.dll");
        ASSERT_FALSE(triggertest::Exists(std::wstring(beside.begin(), beside.end())));
    }
    void TearDown() override {
        UnloadDelayLoadedLibrary(QmtIpcDelayLoadDescriptor());
        RemoveState();
    }
    static void RemoveState() {
        testsupport::DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\KVAUA");
        testsupport::DeleteTree(L"SOFTWARE\\K-Vantor\\QMT\\Delay Loading");
    }
    static void RegisterLibrary(const char* builtPath) {
        ASSERT_TRUE(testsupport::SetString(kLookupKey, L"QMTIPC.dll", WindowsPath(builtPath)));
    }

    testsupport::LogMark log_{L"Test", L"update_trigger"};
    TempFolder scratch_;
};

TEST_F(UpgradeActions, SegmentationIsWrittenAsTheThreeDigitsWithTheirZero) {
    ASSERT_TRUE(testsupport::CreateKey(kSegmentationsKey));
    EXPECT_TRUE(AddOperatorIDSegmentation());

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadRawOperator(type, bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("666", 4), bytes);
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"AddOperatorIDSegmentation: Adding 666 to "
                               L"SOFTWARE\\K-Vantor\\QMT\\KVAUA\\Segmentations|OPERATOR"))
        << text;
    EXPECT_FALSE(Contains(text, L"Failed to add OPERATOR")) << text;
}

TEST_F(UpgradeActions, MissingSegmentationKeyFailsWithNotFoundAndIsNotCreated) {
    EXPECT_FALSE(AddOperatorIDSegmentation());
    EXPECT_FALSE(KeyExists(kSegmentationsKey));
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"AddOperatorIDSegmentation: Failed to add OPERATOR to AUA registry. Returned error: 1"))
        << text;
}

TEST_F(UpgradeActions, TriggerReachesTheDaemonAsOneMessageWithCodeAndPayload) {
    RegisterLibrary(KV_QMTIPC_PATH);
    StandInDaemon daemon(scratch_);
    ASSERT_TRUE(daemon.listening());

    EXPECT_TRUE(TriggerUpdate());
    EXPECT_EQ(0u, daemon.Stop());
    const std::vector<std::string> records = daemon.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(kExpectedRecord, records[0]);
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Message to update config sent successfully")) << text;
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Done sending IPC message")) << text;
}

TEST_F(UpgradeActions, TriggerWithoutDaemonFailsWithTheLibrarysError) {
    RegisterLibrary(KV_QMTIPC_PATH);

    EXPECT_FALSE(TriggerUpdate());
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Failed to send IPC message to daemon. ipc error=2")) << text;
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Done sending IPC message")) << text;
    EXPECT_FALSE(Contains(text, L"sent successfully")) << text;
}

TEST_F(UpgradeActions, TriggerWithoutLibrarySendsNothing) {
    StandInDaemon daemon(scratch_);
    ASSERT_TRUE(daemon.listening());

    EXPECT_FALSE(TriggerUpdate());
    EXPECT_EQ(0u, daemon.Stop());
    EXPECT_TRUE(daemon.Records().empty());
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Failed to load qmt ipc library")) << text;
    EXPECT_FALSE(Contains(text, L"Done sending IPC message")) << text;
}

TEST_F(UpgradeActions, LibraryWithoutTheInitEntryCountsAsNotLoaded) {
    RegisterLibrary(KV_IPC_WITHOUT_INIT_PATH);
    EXPECT_FALSE(TriggerUpdate());
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Failed to load qmt ipc library")) << text;
}

TEST_F(UpgradeActions, LibraryWithoutTheSendEntryFailsTheTriggerInsteadOfEndingTheProgram) {
    RegisterLibrary(KV_IPC_WITHOUT_SEND_PATH);
    EXPECT_FALSE(TriggerUpdate());
    const std::wstring text = log_.NewText();
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Failed to send IPC message to daemon. ipc error=")) << text;
    EXPECT_TRUE(Contains(text, L"TriggerUpdate: Done sending IPC message")) << text;
}

// The upgrade button's sequence: a missing segmentation key does not keep
// the cache edit and the trigger from running.
TEST_F(UpgradeActions, MissingSegmentationKeyStillLetsTheCacheEditAndTheTriggerRun) {
    triggertest::PackageCacheFile cache;
    ASSERT_TRUE(triggertest::WriteBytes(cache.path(), "{\"productDefinitionVersion\":3}"));
    RegisterLibrary(KV_QMTIPC_PATH);
    StandInDaemon daemon(scratch_);
    ASSERT_TRUE(daemon.listening());

    EXPECT_FALSE(AddOperatorIDSegmentation());
    EXPECT_TRUE(ModifyVRKSCache());
    EXPECT_TRUE(TriggerUpdate());

    EXPECT_EQ("{\"aroductDefinitionVersion\":3}", triggertest::ReadBytes(cache.path()));
    EXPECT_EQ(0u, daemon.Stop());
    EXPECT_EQ(1u, daemon.Records().size());
}

}  // namespace
