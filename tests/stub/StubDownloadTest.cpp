// The whole stub road in-process: the installer fetched from the local test
// server (through its proxy, which stands in for the maker's server) behind
// the please-wait dialog on the test display, verified and started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "app/PleaseWaitWaiter.h"
#include "app/UpgradeDialog.h"
#include "download/QmtDownloadInstance.h"
#include "stub/StubInstaller.h"
#include "tests/support/StubFixtures.h"
#include "tests/stub/StubTestLog.h"
#include "tests/support/TestServer.h"

using testsupport::Exists;
using testsupport::LogCapture;

namespace {

using DownloadTesting::TestServer;

const char kInstallerPath[] = "/NX/Retail/installer/2/K-VantorNetworkInstaller.exe";

class StubLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ConfigureStubTestLog(L"stub_download_tests"); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new StubLogEnvironment);

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// WinINet may spell the default port out in the absolute URL it asks a proxy for.
std::string WithoutDefaultPort(std::string url) {
    const size_t host = url.find("://");
    const size_t port = host == std::string::npos ? std::string::npos : url.find(":80/", host + 3);
    if (port != std::string::npos && url.find('/', host + 3) == port + 3) url.erase(port, 3);
    return url;
}


class StubDownload : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
        // Every host reaches the test server's origin through its proxy.
        TestServer::SetProxyMode("origin");
        QmtDownload::SetDownloadProxy(TestServer::ProxyAddress().c_str());
        ASSERT_TRUE(MakeStubTargetName(marker_));
        marker_ += L".ran";
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", marker_.c_str());
        dialog_.m_title = L"K-Vantor Homeguard";
        dialog_.m_message = L"Please wait...";
        dialog_.m_closeText = L"Close";
        dialog_.m_upgradeText = L"Upgrade";
        dialog_.m_waitMode = true;
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"KV_TEST_INSTALLER_MARKER", nullptr);
        QmtDownload::SetDownloadProxy(nullptr);
    }

    static void Serve(const char* fixture) {
        TestServer::AddResource(std::string("{\"path\": \"") + kInstallerPath + "\", \"file\": \"" +
                                FixtureUnixPath(fixture) + "\"}");
    }

    // Runs the road and measures how long the dialog kept it.
    bool Run() {
        const ULONGLONG start = ::GetTickCount64();
        PleaseWaitWaiter waiter(dialog_);
        const bool result = DownloadAndRunStub(waiter);
        elapsedMs_ = ::GetTickCount64() - start;
        return result;
    }

    bool WaitForMarker(DWORD timeoutMs) { return testsupport::WaitForFile(marker_, timeoutMs); }

    // The target named by the "Downloaded to" line.
    static std::wstring DownloadedTarget(const LogCapture& log) {
        const std::wstring text = log.text();
        const std::wstring lead = L"DownloadAndRunStub: Downloaded to '";
        const size_t at = text.find(lead);
        if (at == std::wstring::npos) return std::wstring();
        const size_t end = text.find(L"' successfully", at);
        return end == std::wstring::npos ? std::wstring() : text.substr(at + lead.size(), end - at - lead.size());
    }

    UpgradeDialog dialog_;
    std::wstring marker_;
    ULONGLONG elapsedMs_ = 0;
};

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The installer runs in a folder of its own: a DLL it imports, planted in the
// temporary folder, is not loaded, and the folder is its current one and its TEMP.
TEST_F(StubDownload, SignedInstallerIsFetchedVerifiedAndStartedBehindTheWaitDialog) {
    Serve("kvantor-signed.exe");
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring planted = std::wstring(temp) + L"version.dll";
    ASSERT_TRUE(::CopyFileW(testsupport::WindowsPath(KV_PLANTED_VERSION_PATH).c_str(), planted.c_str(), FALSE));
    LogCapture log;
    EXPECT_TRUE(Run());
    // Twelve ticks of 300 ms at least, however fast the download.
    EXPECT_GE(elapsedMs_, 3500u);
    EXPECT_TRUE(log.contains(L"UpgradeDialog::OnTimer: Timer stop signalled"));
    EXPECT_TRUE(WaitForMarker(20000)) << "the installer did not run";
    EXPECT_TRUE(log.contains(std::wstring(L"DownloadAndRunStub: Download stub from '") + kInstallerUrl + L"'"));
    EXPECT_TRUE(log.contains(L"DownloadAndRunStub: Signature check OK"));

    const std::wstring target = DownloadedTarget(log);
    EXPECT_EQ(target.compare(target.size() - 8, 8, L".tmp.exe"), 0);
    EXPECT_TRUE(Exists(target));
    // Paths in any letter case.
    std::string marker = testsupport::ReadBytes(marker_);
    std::transform(marker.begin(), marker.end(), marker.begin(), ::tolower);
    std::string folder = Narrow(FolderOf(target));
    std::transform(folder.begin(), folder.end(), folder.begin(), ::tolower);
    std::string plantedPath = Narrow(planted);
    std::transform(plantedPath.begin(), plantedPath.end(), plantedPath.begin(), ::tolower);
    EXPECT_NE(folder + "\\", plantedPath.substr(0, plantedPath.size() - 11));
    EXPECT_NE(marker.find("\r\ncwd=" + folder + "\r\ntemp=" + folder + "\r\n"), std::string::npos) << marker;
    EXPECT_NE(marker.find("\\version.dll\r\n"), std::string::npos) << "the import was not loaded\n" << marker;
    EXPECT_EQ(marker.find(plantedPath), std::string::npos) << "the planted DLL was loaded\n" << marker;
    EXPECT_TRUE(::DeleteFileW(planted.c_str()));
    bool proxied = false;
    std::string seen;
    for (const auto& request : TestServer::Requests(kInstallerPath)) {
        seen += request.role + " " + request.method + " " + request.target + "\n";
        if (request.role == "proxy" && request.method == "GET" && WithoutDefaultPort(request.target) == Narrow(kInstallerUrl)) {
            proxied = true;
        }
    }
    EXPECT_TRUE(proxied) << "the installer URL was not asked for; requests:\n" << seen;
}

// The program itself finds no session under Wine and sets no proxy: the
// download then goes through WinINet's preconfigured setting, here the
// http_proxy variable, as in the end-to-end runs and the demo.
TEST_F(StubDownload, PreconfiguredProxyCarriesTheDownloadWhenNoneIsSet) {
    QmtDownload::SetDownloadProxy(nullptr);
    const std::wstring proxy = L"http://" + TestServer::ProxyAddress();
    ::SetEnvironmentVariableW(L"http_proxy", proxy.c_str());
    Serve("kvantor-signed.exe");
    LogCapture log;
    const bool started = Run();
    ::SetEnvironmentVariableW(L"http_proxy", nullptr);
    EXPECT_TRUE(started);
    EXPECT_TRUE(WaitForMarker(20000)) << "the installer did not run";
}

TEST_F(StubDownload, UnsignedInstallerIsNotStarted) {
    Serve("unsigned.exe");
    LogCapture log;
    EXPECT_FALSE(Run());
    EXPECT_TRUE(log.contains(L"file is NOT signed (-2146762496)"));
    EXPECT_TRUE(log.contains(L"DownloadAndRunStub: Signature check failed "));
    // Neither the file nor its folder is left behind.
    const std::wstring target = DownloadedTarget(log);
    ASSERT_FALSE(target.empty());
    EXPECT_FALSE(Exists(target));
    EXPECT_FALSE(Exists(FolderOf(target)));
    EXPECT_FALSE(WaitForMarker(1000));
}

TEST_F(StubDownload, InstallerOfAnotherPublisherIsNotStarted) {
    Serve("other-signed.exe");
    LogCapture log;
    EXPECT_FALSE(Run());
    EXPECT_TRUE(log.contains(L": K-Vantor not found"));
    EXPECT_FALSE(WaitForMarker(1000));
}

TEST_F(StubDownload, ServerDownEndsInFailureAfterTheDialogClosedItself) {
    TestServer::Quit();
    LogCapture log;
    EXPECT_FALSE(Run());
    EXPECT_GE(elapsedMs_, 3500u);
    EXPECT_TRUE(log.contains(L"DownloadAndRunStub: Stub download failed: "));
    EXPECT_FALSE(log.contains(L"Signature check"));
    EXPECT_FALSE(WaitForMarker(500));
}

}  // namespace
