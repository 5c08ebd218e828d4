// The real upgrade_tool.exe under a seeded registry, judged by the windows
// it shows, its exit code and its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "product/NX_Helpers.h"
#include "tests/e2e/ToolRun.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/WindowWatcher.h"

using testsupport::Contains;
using testsupport::SeedProduct;
using testsupport::Answer;
using testsupport::RunTool;
using testsupport::SeenWindow;
using testsupport::ToolRun;
using testsupport::View;

namespace {

const wchar_t kHomeguard[] = L"K-Vantor Homeguard";
const wchar_t kUpToDateText[] = L"Your product is already up to date.";
const wchar_t kFailedText[] = L"Product upgrade failed";
const wchar_t kOfferText[] = L"Product upgrade available";

// One window with the caption and text, whose Upgrade button is offered or not.
void ExpectWindow(const SeenWindow& seen, const std::wstring& caption, const std::wstring& status, bool offered) {
    EXPECT_EQ(caption, seen.caption);
    EXPECT_EQ(status, seen.status);
    EXPECT_EQ(offered, seen.upgradeEnabled) << "Upgrade button of \"" << std::string(status.begin(), status.end())
                                            << "\"";
    EXPECT_TRUE(seen.closeEnabled);
}

class UpgradeTool : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::RemoveProductState();
        // The fresh-install road's download is refused at once: nothing
        // listens on the discard port.
        ::SetEnvironmentVariableW(L"http_proxy", L"http://127.0.0.1:9");
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"http_proxy", nullptr);
        testsupport::RemoveProductState();
    }
};

TEST_F(UpgradeTool, UpToDateProductEndsWithTheUpToDateWindowAndSuccess) {
    SeedProduct(L"1.71.0", true);
    const ToolRun run = RunTool(L"--lang en");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.windows.size());
    ExpectWindow(run.windows[0], kHomeguard, kUpToDateText, false);
    EXPECT_EQ(L"&Close", run.windows[0].closeText);
    EXPECT_EQ(L"Upgrade", run.windows[0].upgradeText);
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::NXIsUpToDateAlready: NX is up to date already")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Chg2013_dc_upgrade_forcerApp::ShowNXIsUpToDateWindow: ")) << run.log;
    // The up-to-date test comes first: the upgradeable test never runs.
    EXPECT_FALSE(Contains(run.log, L"UpgradeableHGInstalledForRetailOperator")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"ShowUpgradeAvailableWindow")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"LOG AUTO-CLOSED")) << run.log;
}

TEST_F(UpgradeTool, UpgradeableProductGetsTheOfferWhichCloseEscapeAndTheCloseBoxDecline) {
    SeedProduct(L"1.57.0", true);
    for (const Answer decline : {Answer::Escape, Answer::CloseBox}) {
        const ToolRun run = RunTool(L"-l en", {decline});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(1602u, run.exitCode);
        ASSERT_EQ(1u, run.windows.size());
        ExpectWindow(run.windows[0], kHomeguard, kOfferText, true);
        EXPECT_TRUE(Contains(run.log, L"ShowUpgradeAvailableWindow: UpgradeAvailable returned 2")) << run.log;
    }
    const ToolRun run = RunTool(L"-l en", {Answer::Close});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1602u, run.exitCode);
    ASSERT_EQ(1u, run.windows.size());
    EXPECT_TRUE(Contains(run.log, L"ShowUpgradeAvailableWindow: UpgradeAvailable returned 2")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::NXIsUpToDateAlready: NX is not up to date")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::UpgradeableHGInstalledForRetailOperator: Found correct version"))
        << run.log;
    EXPECT_TRUE(Contains(run.log, L"Chg2013_dc_upgrade_forcerApp::ShowUpgradeAvailableWindow: ")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"User is not administrator")) << run.log;
}

TEST_F(UpgradeTool, TooOldProductTakesTheFreshInstallRoad) {
    SeedProduct(L"1.56.999", true);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Installed product is too old for this tool to work: 1.56.999. Need at least 1.57"))
        << run.log;
    EXPECT_TRUE(Contains(run.log, L"fresh install")) << run.log;
}

TEST_F(UpgradeTool, MachineWithoutTheProductTakesTheFreshInstallRoad) {
    const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses, Answer::Close}, 120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(kHomeguard, run.windows[0].caption);
    EXPECT_EQ(0u, run.windows[0].status.find(L"Please wait"));
    EXPECT_FALSE(run.windows[0].closeEnabled);
    ExpectWindow(run.windows[1], kHomeguard, kFailedText, false);
    EXPECT_TRUE(Contains(run.log, L"Product is not installed. Returned error: 1")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Stub download failed")) << run.log;
}

TEST_F(UpgradeTool, UpToDateVersionWithoutTheRetailOperatorIsNotUpgradedInPlace) {
    SeedProduct(L"2.1.1", false);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"NX_Helpers::NXIsUpToDateAlready: DC operator is not present")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"ShowNXIsUpToDateWindow")) << run.log;
    EXPECT_FALSE(Contains(run.log, L"ShowUpgradeAvailableWindow")) << run.log;
}

TEST_F(UpgradeTool, ProductRegisteredOnlyInTheNativeViewIsNotSeen) {
    SeedProduct(L"1.71.0", true, L"2_1", View::Native64);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Product is not installed")) << run.log;
}

TEST_F(UpgradeTool, MalformedRegistryValuesAreRefusedByType) {
    const wchar_t version[] = L"1.71.0";
    testsupport::SetRawValue(testsupport::QmtKey(), L"InstallerVersion", REG_EXPAND_SZ, version, sizeof(version));
    testsupport::SetString(testsupport::OperatorsKey(), L"666", L"1");
    testsupport::SetDword(testsupport::FamilyKey(), L"FamilyIDMapping", 2);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Product is not installed. Returned error: 2")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Error: 2. Fallback to 4")) << run.log;
}

TEST_F(UpgradeTool, AppIdTwoIsTheScanguardFamilyAndAnyOtherIdHomeguard) {
    struct Case {
        const wchar_t* mapping;
        const wchar_t* family;
    };
    for (const Case& c : {Case{L"2_1234", L"Product family: Scanguard"}, Case{L"7_2", L"Product family: Homeguard"},
                          Case{L"20_1", L"Product family: Homeguard"}, Case{L"2", L"Product family: Homeguard"}}) {
        testsupport::RemoveProductState();
        SeedProduct(L"1.71.0", true, c.mapping);
        const ToolRun run = RunTool(L"-l en");
        ASSERT_TRUE(run.finished) << c.mapping;
        EXPECT_EQ(0u, run.exitCode) << c.mapping;
        EXPECT_TRUE(Contains(run.log, c.family)) << c.mapping << "\n" << run.log;
        ASSERT_EQ(1u, run.windows.size());
        EXPECT_EQ(Contains(c.family, L"Scanguard") ? L"K-Vantor Scanguard" : kHomeguard, run.windows[0].caption);
    }
}

TEST_F(UpgradeTool, SecondCopyEndsAtOnceWhileTheFirstHoldsTheMutex) {
    SeedProduct(L"1.71.0", true);
    kv::unique_handle firstCopy(::CreateMutexW(nullptr, TRUE, NX_Helpers::kSingleInstanceMutexName));
    ASSERT_TRUE(firstCopy);
    const ToolRun run = RunTool(L"", {}, 10000);
    ::ReleaseMutex(firstCopy.get());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1618u, run.exitCode);
    EXPECT_TRUE(Contains(run.log, L"Chg2013_dc_upgrade_forcerApp::InitInstance: Another copy of this app already "
                                  L"running! Exiting..."))
        << run.log;
    EXPECT_FALSE(Contains(run.log, L"Installed version")) << run.log;
    EXPECT_TRUE(run.windows.empty());
}

TEST_F(UpgradeTool, MutexIsReleasedNotAbandonedWhenTheRunEnds) {
    SeedProduct(L"1.71.0", true);
    // Holding a handle keeps the mutex object alive across the tool's run.
    kv::unique_handle observer(::CreateMutexW(nullptr, FALSE, NX_Helpers::kSingleInstanceMutexName));
    ASSERT_TRUE(observer);
    const ToolRun run = RunTool();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(observer.get(), 0));
    ::ReleaseMutex(observer.get());
}

TEST_F(UpgradeTool, LanguageOptionChoosesTheTextsAndAMalformedLineCountsForNothing) {
    SeedProduct(L"1.71.0", true);
    struct Case {
        const wchar_t* arguments;
        const wchar_t* caption;
        const wchar_t* status;  // null: the detected language's text, whatever it is
        const wchar_t* closeText;
    };
    const Case cases[] = {
        {L"--lang fi", kHomeguard, L"Tuotteesi on jo ajan tasalla.", L"&Sulje"},
        {L"-l de", kHomeguard, L"Ihr Produkt ist bereits auf dem neuesten Stand.", L"&Schlie\u00DFen"},
        // The table's language match is exact: nothing matches, every text is "#" and its key.
        {L"-l FI", L"#Product_HG", L"#UpToDate", L"#Close"},
        {L"--lang xx", L"#Product_HG", L"#UpToDate", L"#Close"},
        {L"--lang", kHomeguard, nullptr, nullptr},
        {L"--bogus -l fi", kHomeguard, nullptr, nullptr},
        {L"--lang fi -l de", kHomeguard, nullptr, nullptr},
        {L"--lang \"unterminated", kHomeguard, nullptr, nullptr},
        {L"\"\" -x", kHomeguard, nullptr, nullptr},
        {L"word --lang fi", kHomeguard, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.arguments);
        ASSERT_TRUE(run.finished) << c.arguments;
        EXPECT_EQ(0u, run.exitCode) << c.arguments;
        EXPECT_TRUE(Contains(run.log, L"ShowNXIsUpToDateWindow")) << c.arguments << "\n" << run.log;
        ASSERT_EQ(1u, run.windows.size()) << c.arguments;
        EXPECT_EQ(c.caption, run.windows[0].caption) << c.arguments;
        if (c.status) {
            EXPECT_EQ(c.status, run.windows[0].status) << c.arguments;
            EXPECT_EQ(c.closeText, run.windows[0].closeText) << c.arguments;
        } else {
            // Ignored lines fall back to the detected language, never to the keys.
            EXPECT_NE(L'#', run.windows[0].status.empty() ? L'#' : run.windows[0].status[0]) << c.arguments;
            EXPECT_FALSE(Contains(run.log, L"Language set to 'fi'")) << c.arguments;
        }
    }
}

}  // namespace
