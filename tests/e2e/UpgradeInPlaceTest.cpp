// The upgrade road of the real program: the offer accepted, the segmentation
// written, the package cache edited and the trigger sent to the stand-in
// daemon through the stand-in IPC library, then the in-progress window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/ToolRun.h"
#include "tests/e2e/UpgradeMachine.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TriggerTestSupport.h"

using testsupport::Answer;
using testsupport::Contains;
using testsupport::RunTool;
using testsupport::ToolRun;

namespace {

const char kCache[] =
    "{\"packages\":[{\"id\":\"av\",\"productDefinitionVersion\":3},"
    "{\"id\":\"fw\",\"productDefinitionVersion\":7},{\"id\":\"ui\",\"productDefinitionVersion\":1}]}";

std::string Edited(std::string text) {
    for (size_t at = text.find("productDefinitionVersion"); at != std::string::npos;
         at = text.find("productDefinitionVersion", at + 1)) {
        text[at] = 'a';
    }
    return text;
}

// A machine with an upgradeable product for the retail operator; the IPC
// library registered where the product keeps its path, unless told not to.
class UpgradeInPlace : public ::testing::Test, protected testsupport::UpgradeMachine {
protected:
    void SetUp() override {
        Clean();
        testsupport::SeedProduct(L"1.60.0", true);
        ASSERT_TRUE(CreateSegmentations());
        ASSERT_TRUE(triggertest::WriteBytes(cache_.path(), kCache));
    }
    void TearDown() override { Clean(); }

    static void RegisterLibrary() { UpgradeMachine::RegisterLibrary(KV_QMTIPC_PATH); }

    triggertest::PackageCacheFile cache_;
    testsupport::TempFolder scratch_;
};

TEST_F(UpgradeInPlace, AcceptedOfferWritesTheSegmentationEditsTheCacheAndTriggersTheDaemonOnce) {
    RegisterLibrary();
    triggertest::StandInDaemon daemon(scratch_);
    ASSERT_TRUE(daemon.listening());

    const ToolRun run = RunTool(L"-l en", {Answer::Upgrade, Answer::Close});
    daemon.Stop();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;

    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(L"Product upgrade available", run.windows[0].status);
    EXPECT_TRUE(run.windows[0].upgradeEnabled);
    EXPECT_EQ(L"Upgrading. This will take several minutes and may require that you restart your computer.",
              run.windows[1].status);
    EXPECT_FALSE(run.windows[1].upgradeEnabled);
    EXPECT_TRUE(Contains(run.log, L"ShowUpgradeAvailableWindow: UpgradeAvailable returned 1")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"ShowUpgradeInProgressWindow: UpgradeInProgress returned 2")) << run.log;

    EXPECT_EQ(L"666", Segmentation());
    EXPECT_EQ(Edited(kCache), triggertest::ReadBytes(cache_.path()));
    const std::vector<std::string> records = daemon.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_NE(std::string::npos, records[0].find("target=KV_OVS_IPC_DAEMON_USER code=2007 length=76")) << records[0];
    EXPECT_NE(std::string::npos, records[0].find("payload=666|{\"backend\":true, \"aua_check\":true}")) << records[0];
}

TEST_F(UpgradeInPlace, DaemonNotRunningEndsInTheFailureWindowAfterTheOtherTwoActions) {
    RegisterLibrary();
    const ToolRun run = RunTool(L"-l en", {Answer::Upgrade, Answer::Close});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
    EXPECT_EQ(L"666", Segmentation());
    EXPECT_EQ(Edited(kCache), triggertest::ReadBytes(cache_.path()));
}

TEST_F(UpgradeInPlace, MissingLibrarySendsNothingAndEndsInTheFailureWindow) {
    triggertest::StandInDaemon daemon(scratch_);
    const ToolRun run = RunTool(L"-l en", {Answer::Upgrade, Answer::Close});
    daemon.Stop();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    EXPECT_TRUE(Contains(run.log, L"TriggerUpdate: Failed to load qmt ipc library")) << run.log;
    EXPECT_TRUE(daemon.Records().empty());
    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
}

TEST_F(UpgradeInPlace, MissingCacheStillSendsTheTriggerButFails) {
    RegisterLibrary();
    ::DeleteFileW(cache_.path().c_str());
    triggertest::StandInDaemon daemon(scratch_);
    const ToolRun run = RunTool(L"-l en", {Answer::Upgrade, Answer::Close});
    daemon.Stop();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    EXPECT_EQ(1u, daemon.Records().size());
    EXPECT_FALSE(triggertest::Exists(cache_.path()));
}

TEST_F(UpgradeInPlace, DeclinedOfferChangesNothing) {
    RegisterLibrary();
    triggertest::StandInDaemon daemon(scratch_);
    const ToolRun run = RunTool(L"-l en", {Answer::Close});
    daemon.Stop();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1602u, run.exitCode);
    EXPECT_EQ(1u, run.windows.size());
    EXPECT_EQ(L"", Segmentation());
    EXPECT_EQ(kCache, triggertest::ReadBytes(cache_.path()));
    EXPECT_TRUE(daemon.Records().empty());
}

}  // namespace
