// The ways of the installer download against the local test server and its
// proxy, for a user of a session table of the test's own (real keys in HKU).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/UniqueHandle.h"
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

    void SetUserValue(const wchar_t* below, const wchar_t* name, DWORD type, const void* data, size_t size) {
        kv::unique_hkey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_USERS, (kDaveSid + (kInternetSettingsSubkey + std::wstring(below))).c_str(), 0,
                                    nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
    void EnableUserProxy(const std::wstring& proxy, const std::wstring& bypass = L"") {
        const DWORD one = 1;
        SetUserValue(L"", L"ProxyEnable", REG_DWORD, &one, sizeof(one));
        SetUserValue(L"", L"ProxyServer", REG_SZ, proxy.c_str(), (proxy.size() + 1) * sizeof(wchar_t));
        SetUserValue(L"", L"ProxyOverride", REG_SZ, bypass.c_str(), (bypass.size() + 1) * sizeof(wchar_t));
    }

    // Serves a file (only to the proxy, unless told), sets up the ways for
    // its URL as the program does, and downloads it.
    DownloadTesting::Outcome Fetch(const char* path, const MachinePolicy& policy = MachinePolicy(),
                                   bool proxiedOnly = true) {
        TestServer::AddResource(std::string(R"({"path": ")") + path + R"(", "size": 5000, "proxied_only": )" +
                                (proxiedOnly ? "true}" : "false}"));
        const std::wstring url = TestServer::Url(path);
        UseProxyFromActiveUser(sessions_, policy, url);
        target_ = folder_.file(L"installer.exe");
        return DownloadTesting::Download(url, target_);
    }
    static std::vector<std::string> Roles(const char* path) {
        std::vector<std::string> roles;
        for (const auto& request : TestServer::Requests(path)) roles.push_back(request.role);
        return roles;
    }
    bool SummaryVia(const std::wstring& route) {
        return DownloadTesting::OneSummaryLine(L"'" + target_ + L"'", L" I",
                                               L"\\(FILE\\) Success .*\\(0 retries\\) .* via " +
                                                   DownloadTesting::Literal(route));
    }

    FakeSessions sessions_;
    DownloadTesting::TempFolder folder_;
    std::wstring target_;
};

using RoleList = std::vector<std::string>;

TEST_F(ProxyChain, UsersConfigurationScriptSendsTheInstallerThroughTheProxy) {
    const std::string proxy = "127.0.0.1:" + std::to_string(TestServer::ProxyPort());
    TestServer::AddResource(R"({"path": "/chain/proxy.pac", "text": "function FindProxyForURL(url, host) { return )"
                            R"(shExpMatch(url, \"*/chain/*\") ? \"PROXY )" + proxy + R"(; DIRECT\" : \"DIRECT\"; }"})");
    // The binary value with only the script and detection (which finds
    // nothing here) set.
    const std::string script = "http://127.0.0.1:" + std::to_string(TestServer::OriginPort()) + "/chain/proxy.pac";
    std::vector<BYTE> value;
    for (DWORD field : {DWORD{0x46}, DWORD{2}, DWORD{0x0D}, DWORD{0}, DWORD{0}, static_cast<DWORD>(script.size())}) {
        for (int shift = 0; shift < 32; shift += 8) value.push_back(static_cast<BYTE>(field >> shift));
    }
    value.insert(value.end(), script.begin(), script.end());
    value.insert(value.end(), 32, 0);
    SetUserValue(L"\\Connections", L"DefaultConnectionSettings", REG_BINARY, value.data(), value.size());

    EXPECT_EQ(Fetch("/chain/script.bin").result, QmtDownload::Success);
    EXPECT_EQ(Roles("/chain/script.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_TRUE(SummaryVia(L"the user's automatic configuration proxy '" + DownloadTesting::Widen(proxy) + L"'"));
}

TEST_F(ProxyChain, BypassListNamingTheHostSendsTheInstallerDirect) {
    EnableUserProxy(TestServer::ProxyAddress(), L"<local>;127.0.0.*");

    EXPECT_EQ(Fetch("/chain/bypass.bin", MachinePolicy(), false).result, QmtDownload::Success);
    EXPECT_EQ(Roles("/chain/bypass.bin"), (RoleList{"origin"}));
    EXPECT_TRUE(SummaryVia(L"direct (by the user's setting)"));
}

TEST_F(ProxyChain, ProxyAskingForCredentialsGetsNoneAndTheNextWayIsTaken) {
    TestServer::SetProxyMode("407");
    EnableUserProxy(TestServer::ProxyAddress());
    LogCapture log;

    // The ways after the proxy are refused by the origin: its answer stands.
    EXPECT_EQ(Fetch("/chain/auth.bin").result, QmtDownload::HttpForbidden);
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

    EXPECT_EQ(Fetch("/chain/policy.bin", policy).result, QmtDownload::Success);
    EXPECT_EQ(Roles("/chain/policy.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_TRUE(SummaryVia(L"the policy's proxy '" + TestServer::ProxyAddress() + L"'"));
}

}  // namespace
