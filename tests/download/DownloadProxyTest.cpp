// The proxy rule: a proxy that refuses or cannot be reached is given up for
// the next way (here the preconfigured connection), and skipped by later
// downloads once that way worked. Transient failures are retried on the
// same way, and a way that brought bytes is kept.
#include <gtest/gtest.h>

#include "download/DownloadResult.h"
#include "download/QmtDownloadInstance.h"
#include "tests/download/DownloadHarness.h"
#include "tests/download/ServerTest.h"
#include "tests/download/SummaryMatch.h"
#include "tests/support/TestServer.h"

using namespace DownloadTesting;
using QmtDownload::DownloadProxyDisabled;

namespace {

class DownloadProxyTest : public ServerTest {
protected:
    void TearDown() override {
        QmtDownload::SetDownloadProxy(nullptr);
        if (TestServer::Available()) TestServer::SetProxyMode("forward");
    }

    static std::vector<std::string> Roles(const char* path) {
        std::vector<std::string> roles;
        for (const auto& request : TestServer::Requests(path)) roles.push_back(request.role);
        return roles;
    }
};

using RoleList = std::vector<std::string>;

TEST_F(DownloadProxyTest, WorkingProxyCarriesTheDownloadAndStaysSet) {
    TestServer::AddResource(R"({"path": "/via.bin", "size": 70000, "seed": 51})");
    QmtDownload::SetDownloadProxy(TestServer::ProxyAddress().c_str());
    const std::wstring path = folder_.file(L"via.bin");

    const Outcome outcome = Download(TestServer::Url("/via.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, 0u);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(51, 70000));
    EXPECT_EQ(Roles("/via.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_TRUE(QmtDownload::QmtDownloadInstance::Get().HasProxy());
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I",
                               L"\\(FILE\\) Success .*':\\(0 retries\\) \\[proxy\\]\\[HTTP 200\\].*"));
}

TEST_F(DownloadProxyTest, ProxyAnswering403IsDisabledOnceTheDirectRetryWorks) {
    TestServer::AddResource(R"({"path": "/refused.bin", "size": 3000, "seed": 52})");
    TestServer::AddResource(R"({"path": "/later.bin", "size": 3000, "seed": 53})");
    TestServer::SetProxyMode("403");
    QmtDownload::SetDownloadProxy(TestServer::ProxyAddress().c_str());
    const std::wstring path = folder_.file(L"refused.bin");

    const Outcome outcome = Download(TestServer::Url("/refused.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, static_cast<DWORD>(DownloadProxyDisabled));
    EXPECT_EQ(ReadBytes(path), TestServer::Body(52, 3000));
    EXPECT_EQ(Roles("/refused.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_FALSE(QmtDownload::QmtDownloadInstance::Get().HasProxy());
    // The proxy had been used, but the download ended on the direct way.
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I",
                               L"\\(FILE\\) Success .*':\\(0 retries\\) \\[HTTP 200\\].*"));

    const Outcome later = Download(TestServer::Url("/later.bin"), folder_.file(L"later.bin"));
    EXPECT_EQ(later.result, QmtDownload::Success);
    EXPECT_EQ(later.flags, 0u);
    EXPECT_EQ(Roles("/later.bin"), (RoleList{"origin"}));
}

TEST_F(DownloadProxyTest, UnreachableOrDroppingProxyFallsBackToTheDirectConnection) {
    const std::wstring closed = L"127.0.0.1:" + std::to_wstring(TestServer::ClosedPort());
    const struct {
        const char* resource;
        const wchar_t* file;
        const char* proxyMode;  // none: nothing listens where the proxy should be
        unsigned seed;
    } table[] = {{"/noproxy.bin", L"noproxy.bin", nullptr, 54}, {"/dropped.bin", L"dropped.bin", "close", 57}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.resource);
        TestServer::AddResource(std::string(R"({"path": ")") + row.resource + R"(", "size": 3000, "seed": )" +
                                std::to_string(row.seed) + "}");
        if (row.proxyMode) TestServer::SetProxyMode(row.proxyMode);
        QmtDownload::SetDownloadProxy(row.proxyMode ? TestServer::ProxyAddress().c_str() : closed.c_str());
        const std::wstring path = folder_.file(row.file);

        const Outcome outcome = Download(TestServer::Url(row.resource), path);

        EXPECT_EQ(outcome.result, QmtDownload::Success);
        EXPECT_EQ(outcome.flags, static_cast<DWORD>(DownloadProxyDisabled));
        EXPECT_EQ(ReadBytes(path), TestServer::Body(row.seed, 3000));
        // A dropping proxy was asked first; an unreachable one never heard of the file.
        if (row.proxyMode) {
            EXPECT_EQ(Roles(row.resource).back(), "origin");
        } else {
            EXPECT_EQ(Roles(row.resource), (RoleList{"origin"}));
        }
    }
}

TEST_F(DownloadProxyTest, RefusingProxyIsLeftAndATransientFailureIsRetriedOnTheNextWay) {
    TestServer::AddResource(R"({"path": "/alternate.bin", "size": 3000, "seed": 55, "statuses": [503]})");
    TestServer::SetProxyMode("403");
    QmtDownload::SetDownloadProxy(TestServer::ProxyAddress().c_str());
    const std::wstring path = folder_.file(L"alternate.bin");

    const Outcome outcome = Download(TestServer::Url("/alternate.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, static_cast<DWORD>(DownloadProxyDisabled));
    EXPECT_EQ(Roles("/alternate.bin"), (RoleList{"proxy", "origin", "origin"}));
    EXPECT_EQ(ReadBytes(path), TestServer::Body(55, 3000));
}

TEST_F(DownloadProxyTest, ProxyStaysInUseOnceBytesHaveArrived) {
    TestServer::AddResource(R"({"path": "/keep.bin", "size": 200000, "seed": 56, "cut_after": 80000})");
    QmtDownload::SetDownloadProxy(TestServer::ProxyAddress().c_str());
    const std::wstring path = folder_.file(L"keep.bin");

    const Outcome outcome = Download(TestServer::Url("/keep.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, 0u);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(56, 200000));
    const auto requests = TestServer::Requests("/keep.bin");
    ASSERT_EQ(requests.size(), 4u) << "two through the proxy, each forwarded to the origin";
    EXPECT_EQ(requests[0].role, "proxy");
    EXPECT_EQ(requests[2].role, "proxy");
    EXPECT_EQ(requests[2].Header("range"), "bytes=80000-");
}

TEST_F(DownloadProxyTest, ProxyRefusingEveryAttemptEndsWithTheDirectFailure) {
    TestServer::SetProxyMode("403");
    QmtDownload::SetDownloadProxy(TestServer::ProxyAddress().c_str());
    const std::wstring path = folder_.file(L"nowhere.bin");

    const Outcome outcome = Download(TestServer::Url("/nowhere.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::HttpNotFound);
    EXPECT_EQ(outcome.flags, 0u);
    EXPECT_EQ(Roles("/nowhere.bin"), (RoleList{"proxy", "origin"}));
    EXPECT_TRUE(QmtDownload::QmtDownloadInstance::Get().HasProxy()) << "only a success on the direct way disables it";
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L".W",
                               L"\\(FILE\\) HttpNotFound .*':\\(0 retries\\) \\[proxy\\]\\[HTTP 404\\].*"));
}

TEST_F(DownloadProxyTest, UnresolvableNameWithoutProxyIsANetworkErrorAndNotRetried) {
    const std::wstring url = L"http://kvdl-no-such-host.invalid/file.bin";
    const std::wstring path = folder_.file(L"unresolved.bin");

    const Outcome outcome = Download(url, path);

    EXPECT_EQ(outcome.result, QmtDownload::NetworkError);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_FALSE(Exists(path + L".dl"));
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L".W",
                               L"\\(FILE\\) NetworkError '" + Literal(url) +
                                   L"' -> .*':\\(0 retries\\) \\[HTTP 0\\]\\[Win32 120\\d\\d\\] in \\d+ms.*"));
}

}  // namespace
