// The ways of the installer download against the local test server and its
// proxy: the user's configuration script, a bypass list, a proxy that asks
// for credentials, and the policy's proxy before the user's. The user comes
// from a session table of the test's own, with real keys below HKEY_USERS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/DownloadResult.h"
#include "download/QmtDownloadInstance.h"
#include "stub/ActiveUserProxy.h"
#include "tests/download/DownloadHarness.h"
#include "tests/download/SummaryMatch.h"
#include "tests/stub/FakeSessions.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestServer.h"

using DownloadTesting::TestServer;
using testsupport::LogCapture;

namespace {

const wchar_t kDaveSid[] = L"S-1-5-21-1111111111-2222222222-3333333333-1004";

// The test log is the download harness's (download_tests).
class ProxyChain : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
        ::RegDeleteTreeW(HKEY_USERS, kDaveSid);
        sessions_.sessions = {{1, L"Console", WTSActive}};
        sessions_.users[1] = {L"dave", L"CORP"};
        sessions_.accounts[L"CORP\\dave"] = kDaveSid;
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_USERS, kDaveSid);
        QmtDownload::SetDownloadProxy(nullptr);
        if (TestServer::Available()) TestServer::SetProxyMode("forward");
    }

    void SetUserValue(const wchar_t* below, const wchar_t* name, DWORD type, const void* data, DWORD size) {
        const std::wstring path = std::wstring(kDaveSid) + kInternetSettingsSubkey + below;
        kv::unique_hkey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_USERS, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void SetUserText(const wchar_t* name, const std::wstring& text) {
        SetUserValue(L"", name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void EnableUserProxy(const std::wstring& proxy) {
        const DWORD one = 1;
        SetUserValue(L"", L"ProxyEnable", REG_DWORD, &one, sizeof(one));
        SetUserText(L"ProxyServer", proxy);
    }
    // The binary value with only the configuration script (and detection) set.
    void SetUserScriptOnly(const std::string& url) {
        std::vector<BYTE> value;
        for (DWORD field : {DWORD{0x46}, DWORD{2}, DWORD{0x0D}, DWORD{0}, DWORD{0}, static_cast<DWORD>(url.size())}) {
            for (int shift = 0; shift < 32; shift += 8) value.push_back(static_cast<BYTE>(field >> shift));
        }
        value.insert(value.end(), url.begin(), url.end());
        value.insert(value.end(), 32, 0);
        SetUserValue(L"\\Connections", L"DefaultConnectionSettings", REG_BINARY, value.data(),
                     static_cast<DWORD>(value.size()));
    }

    // Serves a file only through the proxy, sets up the ways for its URL as
    // the program does, and downloads it.
    DownloadTesting::Outcome Fetch(const char* path, unsigned seed, const MachinePolicy& policy = MachinePolicy()) {
        TestServer::AddResource(std::string(R"({"path": ")") + path +
                                R"(", "size": 5000, "proxied_only": true, "seed": )" + std::to_string(seed) + "}");
        const std::wstring url = TestServer::Url(path);
        UseProxyFromActiveUser(sessions_, policy, url);
        target_ = folder_.file(L"installer.exe");
        return DownloadTesting::Download(url, target_);
    }
    std::vector<std::string> Roles(const char* path) {
        std::vector<std::string> roles;
        for (const auto& request : TestServer::Requests(path)) roles.push_back(request.role);
        return roles;
    }
    bool SummaryVia(const std::wstring& route) {
        return DownloadTesting::OneSummaryLine(L"'" + target_ + L"'", L" I",
                                               L"\\(FILE\\) Success .* via " + DownloadTesting::Literal(route));
    }

    FakeSessions sessions_;
    DownloadTesting::TempFolder folder_;
    std::wstring target_;
};

using RoleList = std::vector<std::string>;

TEST_F(ProxyChain, UsersConfigurationScriptSendsTheInstallerThroughTheProxy) {
    const std::string proxy = "127.0.0.1:" + std::to_string(TestServer::ProxyPort());
    TestServer::AddResource(R"({"path": "/chain/proxy.pac", "text": "function FindProxyForURL(url, host) {\n)"
                            R"(  if (isPlainHostName(host) || !shExpMatch(url, \"*/chain/*\")) return \"DIRECT\";\n)"
                            R"(  return \"PROXY )" + proxy + R"(; DIRECT\";\n}\n"})");
    SetUserScriptOnly("http://127.0.0.1:" + std::to_string(TestServer::OriginPort()) + "/chain/proxy.pac");

    const DownloadTesting::Outcome outcome = Fetch("/chain/script.bin", 61);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(Roles("/chain/script.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_TRUE(SummaryVia(L"the user's automatic configuration proxy '" + DownloadTesting::Widen(proxy) + L"'"));
}

TEST_F(ProxyChain, BypassListNamingTheHostSendsTheInstallerDirect) {
    TestServer::AddResource(R"({"path": "/chain/bypass.bin", "size": 5000, "seed": 62})");
    EnableUserProxy(TestServer::ProxyAddress());
    SetUserText(L"ProxyOverride", L"<local>;127.0.0.*");
    const std::wstring url = TestServer::Url("/chain/bypass.bin");
    UseProxyFromActiveUser(sessions_, MachinePolicy(), url);
    target_ = folder_.file(L"bypass.exe");

    EXPECT_EQ(DownloadTesting::Download(url, target_).result, QmtDownload::Success);
    EXPECT_EQ(Roles("/chain/bypass.bin"), (RoleList{"origin"}));
    EXPECT_TRUE(SummaryVia(L"direct (by the user's setting)"));
}

TEST_F(ProxyChain, ProxyAskingForCredentialsGetsNoneAndTheNextWayIsTaken) {
    TestServer::SetProxyMode("407");
    EnableUserProxy(TestServer::ProxyAddress());
    LogCapture log;

    // Only the proxy reaches the file: every way after it is refused too,
    // and the download ends with the origin's refusal, not the proxy's.
    const DownloadTesting::Outcome outcome = Fetch("/chain/auth.bin", 63);

    EXPECT_EQ(outcome.result, QmtDownload::HttpForbidden);
    const auto requests = TestServer::Requests("/chain/auth.bin");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().role, "proxy");
    EXPECT_EQ(requests.back().role, "origin");
    for (const auto& request : requests) EXPECT_FALSE(request.Has("proxy-authorization")) << request.target;
    EXPECT_TRUE(log.contains(L"the proxy requires authentication"));
}

TEST_F(ProxyChain, PolicyProxyIsTriedBeforeTheUsers) {
    EnableUserProxy(L"127.0.0.1:" + std::to_wstring(TestServer::ClosedPort()));
    MachinePolicy policy;
    policy.proxyMode = PolicyProxyMode::FixedServers;
    policy.proxyServer = TestServer::ProxyAddress();

    const DownloadTesting::Outcome outcome = Fetch("/chain/policy.bin", 64, policy);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(Roles("/chain/policy.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_TRUE(DownloadTesting::OneSummaryLine(L"'" + target_ + L"'", L" I",
                                                L"\\(FILE\\) Success .*\\(0 retries\\) \\[proxy\\].* via the policy's "
                                                L"proxy '.*'"));
    const QmtDownload::RouteList routes = QmtDownload::QmtDownloadInstance::Get().Routes();
    ASSERT_GE(routes.size(), 2u);
    EXPECT_EQ(routes[1].origin, QmtDownload::RouteOrigin::UserNamed) << "the user's proxy follows the policy's";
}

}  // namespace
