// The fresh-install road of the real program: the hosts file repaired, the
// installer fetched from the local server (standing in for the maker's,
// reached through WinINet's preconfigured proxy), its signer checked and the
// installer started, all behind the please-wait window.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/ToolRun.h"
#include "tests/support/StubFixtures.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/TestServer.h"

using DownloadTesting::TestServer;
using testsupport::Answer;
using testsupport::Contains;
using testsupport::RunTool;
using testsupport::ToolRun;

namespace {

const char kInstallerPath[] = "/NX/Retail/installer/2/K-VantorNetworkInstaller.exe";
const std::string kOtherLines =
    "# Copyright (c) 1993-2009 Microsoft Corp.\r\n"
    "127.0.0.1       localhost\r\n"
    "::1             localhost\r\n"
    "10.0.0.5\tfileserver # k-vantor mirror in a comment stays\r\n";
const std::string kMakerLine = "127.0.0.1 k-vantor-update\r\n";

// The maker's line after the first of the others.
std::string WithMakerLine() {
    const size_t second = kOtherLines.find("\r\n") + 2;
    return kOtherLines.substr(0, second) + kMakerLine + kOtherLines.substr(second);
}

std::wstring SystemFolder(const wchar_t* below) {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + below;
}

// A machine without the product whose hosts file names the maker; the
// machine's previous hosts file comes back afterwards.
class FreshInstall : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
        testsupport::RemoveProductState();
        saved_ = testsupport::ReadBytes(hosts_);
        ::DeleteFileW(backup_.c_str());
        ASSERT_TRUE(testsupport::WriteBytes(hosts_, WithMakerLine()));
        TestServer::SetProxyMode("origin");
        const std::wstring proxy = L"http://" + TestServer::ProxyAddress();
        ::SetEnvironmentVariableW(L"http_proxy", proxy.c_str());
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        marker_ = std::wstring(temp) + L"kv_e2e_installer_" + std::to_wstring(::GetCurrentProcessId()) + L".ran";
        ::DeleteFileW(marker_.c_str());
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", marker_.c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"http_proxy", nullptr);
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", nullptr);
        testsupport::WriteBytes(hosts_, saved_);
        ::DeleteFileW(backup_.c_str());
        ::DeleteFileW(marker_.c_str());
    }

    static void Serve(const char* fixture) {
        TestServer::AddResource(std::string("{\"path\": \"") + kInstallerPath + "\", \"file\": \"" +
                                FixtureUnixPath(fixture) + "\"}");
    }

    void ExpectHostsRepaired() {
        EXPECT_EQ(kOtherLines, testsupport::ReadBytes(hosts_));
        EXPECT_EQ(WithMakerLine(), testsupport::ReadBytes(backup_));
    }

    const std::wstring hosts_ = SystemFolder(L"\\System32\\drivers\\etc\\hosts");
    const std::wstring backup_ = SystemFolder(L"\\System32\\drivers\\etc\\hosts.bak");
    std::string saved_;
    std::wstring marker_;
};

TEST_F(FreshInstall, HostsRepairedThenTheSignedInstallerIsFetchedAndStartedBehindThePleaseWaitWindow) {
    Serve("kvantor-signed.exe");
    const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses}, 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    ExpectHostsRepaired();

    ASSERT_EQ(1u, run.windows.size()) << run.log;
    EXPECT_EQ(0u, run.windows[0].status.find(L"Please wait")) << std::string(run.windows[0].status.begin(),
                                                                               run.windows[0].status.end());
    EXPECT_FALSE(run.windows[0].upgradeEnabled);
    EXPECT_FALSE(run.windows[0].closeEnabled);
    // Twelve ticks of 300 ms at the least, however fast the download.
    EXPECT_GE(run.windows[0].shownMs, 3400u);
    EXPECT_TRUE(Contains(run.log, L"UpgradeDialog::OnTimer: Timer stop signalled")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Signature check OK")) << run.log;
    EXPECT_TRUE(testsupport::WaitForFile(marker_, 20000)) << "the installer did not run\n" << run.log;
}

TEST_F(FreshInstall, UnsignedOrForeignInstallerIsNotStartedAndTheFailureWindowFollows) {
    for (const char* fixture : {"unsigned.exe", "other-signed.exe"}) {
        Serve(fixture);
        const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses, Answer::Close}, 60000);
        ASSERT_TRUE(run.finished) << fixture;
        EXPECT_EQ(1603u, run.exitCode) << fixture << "\n" << run.log;
        ASSERT_EQ(2u, run.windows.size()) << fixture << "\n" << run.log;
        EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
        EXPECT_FALSE(testsupport::WaitForFile(marker_, 1000)) << fixture;
    }
}

// The build with an https installer URL and limits of 3 s without progress
// and 20 s in all.
const std::wstring kLimitedTool = testsupport::WindowsPath(KV_UPGRADE_TOOL_TEST_LIMITS_PATH);

TEST_F(FreshInstall, OverHttpsTheSignedInstallerIsFetchedAndStarted) {
    Serve("kvantor-signed.exe");
    const ToolRun run = testsupport::RunToolAt(kLimitedTool, L"-l en", {Answer::WaitUntilItCloses}, 60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Download stub from 'https://")) << run.log;
    EXPECT_TRUE(Contains(run.log, L"Signature check OK")) << run.log;
    EXPECT_TRUE(testsupport::WaitForFile(marker_, 20000)) << "the installer did not run\n" << run.log;
}

TEST_F(FreshInstall, SilentOrTricklingServerEndsInTheFailureWindowWithinTheLimits) {
    for (const char* behaviour : {"\"hang_after\": 0", "\"trickle_ms\": 1000"}) {
        TestServer::AddResource(std::string("{\"path\": \"") + kInstallerPath + "\", \"file\": \"" +
                                FixtureUnixPath("kvantor-signed.exe") + "\", " + behaviour + "}");
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
        EXPECT_FALSE(testsupport::WaitForFile(marker_, 500)) << behaviour;
    }
}

TEST_F(FreshInstall, ServerDownEndsInTheFailureWindow) {
    TestServer::Quit();
    const ToolRun run = RunTool(L"-l en", {Answer::WaitUntilItCloses, Answer::Close}, 120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1603u, run.exitCode) << run.log;
    ExpectHostsRepaired();
    ASSERT_EQ(2u, run.windows.size()) << run.log;
    EXPECT_EQ(L"Product upgrade failed", run.windows[1].status);
    EXPECT_TRUE(Contains(run.log, L"Stub download failed")) << run.log;
}

}  // namespace
