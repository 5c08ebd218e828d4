// The fresh-install road of the real program: the hosts file repaired, the
// installer fetched from the local server (standing in for the maker's,
// reached through WinINet's preconfigured proxy), its signer checked and the
// installer started, all behind the please-wait window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/e2e/FreshInstallMachine.h"
#include "tests/e2e/ToolRun.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TestServer.h"

using DownloadTesting::TestServer;
using testsupport::Answer;
using testsupport::Contains;
using testsupport::FreshInstallMachine;
using testsupport::RunTool;
using testsupport::ToolRun;

namespace {

// The machine for each test, once the test server is known to be there.
class FreshInstall : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
        machine_.emplace();
    }

    std::optional<FreshInstallMachine> machine_;
};

TEST_F(FreshInstall, HostsRepairedThenTheSignedInstallerIsFetchedAndStartedBehindThePleaseWaitWindow) {
    FreshInstallMachine::Serve("kvantor-signed.exe");
    const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses}, 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    machine_->ExpectHostsRepaired();

    ASSERT_EQ(1u, run.windows.size()) << run.log;
    EXPECT_EQ(0u, run.windows[0].status.find(L"Please wait")) << std::string(run.windows[0].status.begin(),
                                                                               run.windows[0].status.end());
    EXPECT_FALSE(run.windows[0].upgradeEnabled);
    EXPECT_FALSE(run.windows[0].closeEnabled);
    // Twelve ticks of 300 ms at the least, however fast the download.
    EXPECT_GE(run.windows[0].shownMs, 3400u);
    EXPECT_TRUE(Contains(run.log, L"UpgradeDialog::OnTimer: Timer stop signalled")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Signature check OK")) << run.log;
    EXPECT_TRUE(machine_->InstallerRan(20000)) << "the installer did not run\n" << run.log;
}

TEST_F(FreshInstall, UnsignedOrForeignInstallerIsNotStartedAndTheFailureWindowFollows) {
    for (const char* fixture : {"unsigned.exe", "other-signed.exe"}) {
        FreshInstallMachine::Serve(fixture);
        const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses, Answer::Close}, 60000);
        ASSERT_TRUE(run.finished) << fixture;
        EXPECT_EQ(1603u, run.exitCode) << fixture << "\n" << run.log;
        ASSERT_EQ(2u, run.windows.size()) << fixture << "\n" << run.log;
        EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
        EXPECT_FALSE(machine_->InstallerRan(1000)) << fixture;
    }
}

// The build with an https installer URL and limits of 3 s without progress
// and 20 s in all.
const std::wstring kLimitedTool = testsupport::WindowsPath(KV_UPGRADE_TOOL_TEST_LIMITS_PATH);

TEST_F(FreshInstall, OverHttpsTheSignedInstallerIsFetchedAndStarted) {
    FreshInstallMachine::Serve("kvantor-signed.exe");
    const ToolRun run = testsupport::RunToolAt(kLimitedTool, L"-l en", {Answer::WaitUntilItCloses}, 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Download stub from 'https://")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Signature check OK")) << run.log;
    EXPECT_TRUE(machine_->InstallerRan(20000)) << "the installer did not run\n" << run.log;
}

TEST_F(FreshInstall, SilentOrTricklingServerEndsInTheFailureWindowWithinTheLimits) {
    for (const char* behaviour : {"\"hang_after\": 0", "\"trickle_ms\": 1000"}) {
        FreshInstallMachine::Serve("kvantor-signed.exe", behaviour);
        const ULONGLONG start = ::GetTickCount64();
        const ToolRun run =
            testsupport::RunToolAt(kLimitedTool, L"-l en", {Answer::WaitUntilItCloses, Answer::Close}, 120000);
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        ASSERT_TRUE(run.finished) << behaviour;
        EXPECT_EQ(1603u, run.exitCode) << behaviour << "\n" << run.log;
        ASSERT_EQ(2u, run.windows.size()) << behaviour << "\n" << run.log;
        EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
        EXPECT_TRUE(Contains(run.log, L"Stub download failed: NetworkTimeout")) << run.log;
        // Four silent attempts of 3 s, or 20 s in all, and the two windows.
        EXPECT_LT(elapsed, 45000u) << behaviour;
        EXPECT_FALSE(machine_->InstallerRan(500)) << behaviour;
    }
}

// A quiet run waits for the installer, hands it the configured arguments and
// ends with its outcome.
TEST_F(FreshInstall, QuietRunEndsWithTheInstallersOutcome) {
    FreshInstallMachine::Serve("kvantor-signed.exe");
    const struct {
        const wchar_t* installerExit;
        DWORD toolExit;
    } rows[] = {{L"0", 0}, {L"3010", 3010}, {L"5", 1603}};
    for (const auto& row : rows) {
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_EXIT", row.installerExit);
        const ToolRun run = RunTool(L"/quiet --installer-args \"/S /norestart\"", {}, 120000);
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_EXIT", nullptr);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.toolExit, run.exitCode) << run.log;
        const std::string marker = machine_->InstallerMarker();
        EXPECT_NE(marker.find(".exe\" /S /norestart\r\n"), std::string::npos) << marker;
        EXPECT_EQ(row.toolExit == 1603, Contains(run.log, L"The installer failed with exit code 5;")) << run.log;
        machine_->ForgetInstallerRun();
    }
}

// The build that waits 4 s: the run ends with 1603 and the installer is left running.
TEST_F(FreshInstall, QuietRunGivesUpWaitingAfterTheLimitAndLeavesTheInstallerRunning) {
    FreshInstallMachine::Serve("kvantor-signed.exe");
    wchar_t eventName[64];
    _snwprintf(eventName, 64, L"kv-e2e-installer-hold-%lu", ::GetCurrentProcessId());
    kv::unique_handle hold(::CreateEventW(nullptr, TRUE, FALSE, eventName));
    ASSERT_TRUE(hold);
    ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_HOLD", eventName);
    const ToolRun run = testsupport::RunToolAt(kLimitedTool, L"/quiet", {}, 120000);
    ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_HOLD", nullptr);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    EXPECT_TRUE(Contains(run.log, L"The installer has not ended within 4000 ms")) << run.log;
    const std::string marker = machine_->InstallerMarker();
    kv::unique_handle installer(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, strtoul(marker.c_str() + 4, nullptr, 10)));
    ASSERT_TRUE(installer) << marker;
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(installer.get(), 0));
    ::TerminateProcess(installer.get(), 1);
    ::WaitForSingleObject(installer.get(), 5000);
}

// The distribution system's copy beside the tool is used without a request;
// one that fails the check is passed over for the download.
TEST_F(FreshInstall, InstallerBesideTheToolIsUsedUnlessItFailsTheCheck) {
    FreshInstallMachine::Serve("kvantor-signed.exe");
    for (const wchar_t* beside : {L"kvantor-signed.exe", L"unsigned.exe"}) {
        const bool downloaded = std::wstring(beside) == L"unsigned.exe";
        testsupport::TempFolder package(L"package");
        const std::wstring tool = package.file(L"upgrade_tool.exe");
        ASSERT_TRUE(::CopyFileW(testsupport::ToolPath().c_str(), tool.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(FixturePath(beside).c_str(), package.file(L"K-VantorNetworkInstaller.exe").c_str(),
                                FALSE));
        TestServer::ClearLog();
        const ToolRun run = testsupport::RunToolAt(tool, L"/quiet", {}, 120000);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode) << run.log;
        EXPECT_FALSE(machine_->InstallerMarker().empty()) << run.log;
        EXPECT_EQ(downloaded, !TestServer::Requests(FreshInstallMachine::kInstallerPath).empty());
        EXPECT_EQ(downloaded, Contains(run.log, L"beside the program cannot be used, downloading it")) << run.log;
        machine_->ForgetInstallerRun();
    }
}

// An explicit source is the only one tried: a missing file ends the run, a
// mirror's URL is fetched from.
TEST_F(FreshInstall, ExplicitSourceIsTheOnlyOneTried) {
    FreshInstallMachine::Serve("kvantor-signed.exe");
    const char kMirrorPath[] = "/mirror/K-VantorNetworkInstaller.exe";
    TestServer::AddResource(std::string("{\"path\": \"") + kMirrorPath + "\", \"file\": \"" +
                            FixtureUnixPath("kvantor-signed.exe") + "\"}");
    testsupport::TempFolder nowhere(L"source");
    const struct {
        std::wstring source;
        DWORD toolExit;
    } rows[] = {{nowhere.file(L"K-VantorNetworkInstaller.exe"), 1603},
                {L"http://mirror.kv-test.invalid/mirror/K-VantorNetworkInstaller.exe", 0}};
    for (const auto& row : rows) {
        TestServer::ClearLog();
        const ToolRun run = RunTool(L"/quiet --source " + row.source, {}, 120000);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.toolExit, run.exitCode) << run.log;
        EXPECT_TRUE(TestServer::Requests(FreshInstallMachine::kInstallerPath).empty()) << run.log;
        EXPECT_EQ(row.toolExit == 0, !TestServer::Requests(kMirrorPath).empty()) << run.log;
        EXPECT_EQ(row.toolExit == 0, !machine_->InstallerMarker().empty()) << run.log;
        machine_->ForgetInstallerRun();
    }
}

// Wine lists no sessions, so the script comes from the policy; the server
// refuses what does not come through the proxy it names.
TEST_F(FreshInstall, ConfigurationScriptOfThePolicyLeadsThroughTheOnlyProxyThatReachesTheServer) {
    const std::wstring policyKey = L"SOFTWARE\\Policies\\K-Vantor\\NX Upgrade";
    const std::string proxy = "127.0.0.1:" + std::to_string(TestServer::ProxyPort());
    TestServer::AddResource(R"({"path": "/e2e/proxy.pac", "text": "function FindProxyForURL(url, host) )"
                            R"({ return \"PROXY )" + proxy + R"(; DIRECT\"; }"})");
    FreshInstallMachine::Serve("kvantor-signed.exe", "\"proxied_only\": true");
    ::SetEnvironmentVariableW(L"http_proxy", nullptr);
    ASSERT_TRUE(testsupport::SetString(policyKey, L"ProxyMode", L"pac_script", testsupport::View::Native64));
    ASSERT_TRUE(testsupport::SetString(policyKey, L"ProxyPacUrl", TestServer::Url("/e2e/proxy.pac"),
                                       testsupport::View::Native64));

    const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses}, 60000);
    testsupport::DeleteTree(policyKey, testsupport::View::Native64);

    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Connection 1: the policy's proxy '" + std::wstring(proxy.begin(), proxy.end())))
        << run.log;
    EXPECT_TRUE(machine_->InstallerRan(20000)) << "the installer did not run\n" << run.log;
}

TEST_F(FreshInstall, ServerDownEndsInTheFailureWindow) {
    TestServer::Quit();
    const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses, Answer::Close}, 120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    machine_->ExpectHostsRepaired();
    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
    EXPECT_TRUE(Contains(run.log, L"Stub download failed")) << run.log;
}

}  // namespace
