// The real program run unattended: quiet (no window at any time) and passive
// (windows that need no input and close by themselves) on each road, and the
// help window, which changes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/FreshInstallMachine.h"
#include "tests/e2e/ToolRun.h"
#include "tests/e2e/UpgradeMachine.h"
#include "product/NX_Helpers.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TestServer.h"
#include "tests/support/TriggerTestSupport.h"

using DownloadTesting::TestServer;
using testsupport::Answer;
using testsupport::Contains;
using testsupport::FreshInstallMachine;
using testsupport::RunTool;
using testsupport::SeenWindow;
using testsupport::ToolRun;

namespace {

const char kCache[] = "{\"packages\":[{\"id\":\"av\",\"productDefinitionVersion\":3}]}";
const char kEditedCache[] = "{\"packages\":[{\"id\":\"av\",\"aroductDefinitionVersion\":3}]}";
const std::vector<Answer> kNobodyAnswers = {Answer::WaitUntilItCloses, Answer::WaitUntilItCloses};

// A window of a passive run: both buttons disabled, gone by itself after about five seconds.
void ExpectClosedByItself(const SeenWindow& seen, const std::wstring& status) {
    EXPECT_EQ(status, seen.status);
    EXPECT_FALSE(seen.upgradeEnabled);
    EXPECT_FALSE(seen.closeEnabled);
    EXPECT_GE(seen.shownMs, 4000u);
}

// A machine whose download is refused at once (nothing listens on the
// discard port), with the stand-in IPC library registered and a package
// cache for the upgrade road.
class UnattendedRun : public ::testing::Test, protected testsupport::UpgradeMachine {
protected:
    void SetUp() override {
        Clean();
        ::SetEnvironmentVariableW(L"http_proxy", L"http://127.0.0.1:9");
        ASSERT_TRUE(CreateSegmentations());
        RegisterLibrary(KV_QMTIPC_PATH);
        ASSERT_TRUE(testsupport::WriteBytes(cache_.path(), kCache));
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"http_proxy", nullptr);
        Clean();
    }
    // Neither the segmentation nor the package cache was touched.
    void ExpectNothingChanged() {
        EXPECT_EQ(L"", Segmentation());
        EXPECT_EQ(kCache, testsupport::ReadBytes(cache_.path()));
    }
    // The upgrade road with the daemon listening: the run is judged by what it did.
    ToolRun RunUpgrade(const std::wstring& arguments, std::vector<Answer> answers) {
        testsupport::SeedProduct(L"1.60.0", true);
        triggertest::StandInDaemon daemon(scratch_);
        EXPECT_TRUE(daemon.listening());
        ToolRun run = RunTool(arguments, std::move(answers), 60000);
        daemon.Stop();
        EXPECT_EQ(L"666", Segmentation());
        EXPECT_EQ(kEditedCache, testsupport::ReadBytes(cache_.path()));
        EXPECT_EQ(1u, daemon.Records().size());
        return run;
    }

    triggertest::PackageCacheFile cache_;
    testsupport::TempFolder scratch_;
};

TEST_F(UnattendedRun, QuietUpToDateShowsNothingEvenBesideATypo) {
    testsupport::SeedProduct(L"1.71.0", true);
    for (const wchar_t* arguments : {L"--quiet", L"--quiet --bogus"}) {
        const ToolRun run = RunTool(arguments);
        ASSERT_TRUE(run.finished) << arguments;
        EXPECT_EQ(0u, run.exitCode) << arguments;
        EXPECT_TRUE(run.windows.empty()) << arguments;
        EXPECT_TRUE(Contains(run.log, L"ParseCommandLine: Quiet run: no window is shown")) << run.log;
        EXPECT_TRUE(Contains(run.log, L"ShowNXIsUpToDateWindow: Quiet run: window UpToDate not shown")) << run.log;
        ExpectNothingChanged();
    }
}

TEST_F(UnattendedRun, QuietUpgradeRunsWithoutTheOfferAndShowsNothing) {
    const ToolRun run = RunUpgrade(L"-q -l en", {});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_TRUE(run.windows.empty());
    EXPECT_TRUE(Contains(run.log, L"ShowUpgradeAvailableWindow: UpgradeAvailable returned 1")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Quiet run: window UpgradingPleaseWait not shown")) << run.log;
}

// On the machine of the interactive fresh-install tests, the test server's
// proxy either passes the request on to the server, which answers with the
// signed installer, or closes every connection.
TEST_F(UnattendedRun, QuietFreshInstallShowsNothingAndEndsAsItsDownloadDoes) {
    if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
    for (const char* proxyMode : {"origin", "close"}) {
        const bool fetched = std::string(proxyMode) == "origin";
        FreshInstallMachine machine;
        FreshInstallMachine::Serve("kvantor-signed.exe");
        TestServer::SetProxyMode(proxyMode);
        const ToolRun run = RunTool(L"/quiet", {}, 120000);
        ASSERT_TRUE(run.finished) << proxyMode;
        EXPECT_EQ(fetched ? 0u : 1603u, run.exitCode) << run.log;
        EXPECT_TRUE(run.windows.empty()) << proxyMode;
        machine.ExpectHostsRepaired();
        EXPECT_EQ(fetched, machine.InstallerRan(fetched ? 20000 : 1000)) << run.log;
        EXPECT_TRUE(Contains(run.log, L"Quiet run: window PleaseWait not shown")) << run.log;
        EXPECT_EQ(!fetched, Contains(run.log, L"Stub download failed")) << run.log;
        EXPECT_EQ(!fetched, Contains(run.log, L"Quiet run: window UpgradeFailed not shown")) << run.log;
    }
}

TEST_F(UnattendedRun, PassiveUpToDateWindowClosesByItself) {
    testsupport::SeedProduct(L"1.71.0", true);
    const ToolRun run = RunTool(L"--passive -l en", kNobodyAnswers);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.windows.size());
    ExpectClosedByItself(run.windows[0], L"Your product is already up to date.");
}

TEST_F(UnattendedRun, PassiveUpgradeSkipsTheOfferAndTheProgressWindowClosesByItself) {
    const ToolRun run = RunUpgrade(L"/passive -l en", kNobodyAnswers);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    ASSERT_EQ(1u, run.windows.size()) << run.log;
    ExpectClosedByItself(run.windows[0],
                         L"Upgrading. This will take several minutes and may require that you restart your computer.");
}

TEST_F(UnattendedRun, PassiveFreshInstallShowsThePleaseWaitWindowThenAFailureThatClosesByItself) {
    const ToolRun run = RunTool(L"--passive -l en", kNobodyAnswers, 120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(0u, run.windows[0].status.find(L"Please wait"));
    ExpectClosedByItself(run.windows[1], L"Product upgrade failed");
}

TEST_F(UnattendedRun, HelpListsTheOptionsInTheDisplayLanguageAndChangesNothing) {
    testsupport::SeedProduct(L"1.60.0", true);
    struct Case {
        const wchar_t* arguments;
        const wchar_t* heading;
        const wchar_t* closeText;
    };
    for (const Case& c : {Case{L"/? -l en", L"Options:", L"&Close"}, Case{L"--help --lang fi", L"Valinnat:", L"&Sulje"}}) {
        const ToolRun run = RunTool(c.arguments, {Answer::Close});
        ASSERT_TRUE(run.finished) << c.arguments;
        EXPECT_EQ(0u, run.exitCode) << c.arguments;
        ASSERT_EQ(1u, run.windows.size()) << c.arguments;
        const std::wstring& text = run.windows[0].status;
        EXPECT_EQ(L"K-Vantor Homeguard", run.windows[0].caption);
        EXPECT_EQ(c.closeText, run.windows[0].closeText);
        EXPECT_EQ(0u, text.find(c.heading)) << c.arguments;
        for (const wchar_t* listed : {L"--quiet, -q, /quiet", L"--passive, /passive", L"--lang <tag>, -l <tag>",
                                      L"--help, -h, /?", L"1602\t", L"1603\t", L"1618\t"}) {
            EXPECT_TRUE(Contains(text, listed)) << c.arguments;
        }
        EXPECT_FALSE(Contains(run.log, L"UpgradeableHGInstalledForRetailOperator")) << run.log;
    }
    // Quiet help goes to the log.
    const ToolRun quiet = RunTool(L"/? /quiet -l en");
    ASSERT_TRUE(quiet.finished);
    EXPECT_EQ(0u, quiet.exitCode);
    EXPECT_TRUE(quiet.windows.empty());
    EXPECT_TRUE(Contains(quiet.log, L"ShowHelp:     --passive, /passive")) << quiet.log;
    ExpectNothingChanged();
}

// A detection rule's run on each road: the road on standard output and as the
// exit code, no window, nothing changed, and an answer even while another
// copy holds the single-instance lock. The run's lines also go to --log's file.
TEST_F(UnattendedRun, CheckNamesEachRoadChangesNothingAndCopiesItsLog) {
    struct Case {
        const wchar_t* version;  // null: no product
        DWORD exitCode;
        const char* output;
    };
    const Case cases[] = {
        {L"1.71.0", 0, "K-Vantor NX upgrade check: up to date (exit code 0)\r\n"},
        {L"1.60.0", 1, "K-Vantor NX upgrade check: upgrade in place (exit code 1)\r\n"},
        {nullptr, 2, "K-Vantor NX upgrade check: fresh install (exit code 2)\r\n"},
    };
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring hosts = std::wstring(windows) + L"\\system32\\drivers\\etc\\hosts";
    const std::string savedHosts = testsupport::ReadBytes(hosts);
    const std::string makerHosts = "127.0.0.1 localhost\r\n127.0.0.1 k-vantor-update\r\n";
    ASSERT_TRUE(testsupport::WriteBytes(hosts, makerHosts));
    kv::unique_handle otherCopy(::CreateMutexW(nullptr, TRUE, NX_Helpers::kSingleInstanceMutexName));
    const std::wstring copy = scratch_.path() + L"\\check.log";
    for (const Case& c : cases) {
        testsupport::RemoveProductState();
        if (c.version) testsupport::SeedProduct(c.version, true);
        testsupport::WriteBytes(copy, "older text that the copy replaces");
        const ToolRun run = RunTool(L"/check /log \"" + copy + L"\"", {}, 30000, true);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(c.exitCode, run.exitCode) << run.log;
        EXPECT_EQ(c.output, run.output);
        EXPECT_TRUE(run.windows.empty());
        ExpectNothingChanged();
        EXPECT_EQ(makerHosts, testsupport::ReadBytes(hosts));
        const std::vector<std::wstring> lines = testsupport::ReadLogLines(copy);
        ASSERT_GE(lines.size(), 3u) << run.log;
        EXPECT_TRUE(Contains(lines.front() + lines.at(1), L"LOGGING STARTED")) << run.log;
        EXPECT_TRUE(Contains(lines.back(), L"LOG AUTO-CLOSED")) << run.log;
        for (const std::wstring& line : lines) EXPECT_TRUE(Contains(run.log, line)) << line;
    }
    // A second name of another file in the copy's place is refused: the run goes on and says so once.
    const std::wstring precious = scratch_.path() + L"\\precious.txt", linked = scratch_.path() + L"\\linked.log";
    ASSERT_TRUE(testsupport::WriteBytes(precious, "keep"));
    ASSERT_TRUE(::CreateHardLinkW(linked.c_str(), precious.c_str(), nullptr));
    const ToolRun refused = RunTool(L"--check --log \"" + linked + L"\"");
    EXPECT_EQ(2u, refused.exitCode);
    EXPECT_EQ("keep", testsupport::ReadBytes(precious));
    EXPECT_TRUE(Contains(refused.log, L"The log copy '" + linked + L"' cannot be written")) << refused.log;
    testsupport::WriteBytes(hosts, savedHosts);
}

}  // namespace
