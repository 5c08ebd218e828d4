// The HTTPS road against TLS origins on 127.0.0.1 whose certificates come
// from the throw-away test CA that the prefix trusts while these tests run.
#include <gtest/gtest.h>

#include <string>

#include "download/DownloadResult.h"
#include "tests/download/DownloadHarness.h"
#include "tests/download/ServerTest.h"
#include "tests/support/TestServer.h"

using namespace DownloadTesting;

namespace {

using DownloadHttpsTest = ServerTest;

TEST_F(DownloadHttpsTest, FileArrivesByteIdentical) {
    ASSERT_NE(TestServer::TlsPort(TlsOrigin::Good), 0u) << "the server has no certificates (KV_TEST_TLS_DIR)";
    TestServer::AddResource(R"({"path": "/secure.bin", "size": 300000, "seed": 61})");
    const std::wstring path = folder_.file(L"secure.bin");

    const Outcome outcome = Download(TestServer::SecureUrl(TlsOrigin::Good, "/secure.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(61, 300000));
}

TEST_F(DownloadHttpsTest, CertificateForAnotherHostOrFromAnUntrustedIssuerIsRefused) {
    TestServer::AddResource(R"({"path": "/refused.bin", "size": 3000, "seed": 62})");
    for (TlsOrigin origin : {TlsOrigin::WrongHost, TlsOrigin::Untrusted}) {
        SCOPED_TRACE(static_cast<int>(origin));
        ASSERT_NE(TestServer::TlsPort(origin), 0u);
        const std::wstring path = folder_.file(L"refused.bin");

        const Outcome outcome = Download(TestServer::SecureUrl(origin, "/refused.bin"), path);

        EXPECT_EQ(outcome.result, QmtDownload::NetworkInvalidCertificate);
        EXPECT_EQ(outcome.finishedCalls, 1);
        EXPECT_TRUE(ReadBytes(path).empty());
    }
    EXPECT_TRUE(TestServer::Requests("/refused.bin").empty()) << "nothing was asked of a server not trusted";
}

// The bytes of a secure download never come over plain http.
TEST_F(DownloadHttpsTest, RedirectToHttpIsRefused) {
    ASSERT_NE(TestServer::TlsPort(TlsOrigin::Good), 0u);
    TestServer::AddResource(R"({"path": "/target.bin", "size": 3000, "seed": 63})");
    const std::wstring plain = TestServer::Url("/target.bin");
    const std::string location(plain.begin(), plain.end());
    TestServer::AddResource(R"({"path": "/moved.bin", "redirect": ")" + location + R"("})");
    const std::wstring path = folder_.file(L"moved.bin");

    const Outcome outcome = Download(TestServer::SecureUrl(TlsOrigin::Good, "/moved.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::NetworkError);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_TRUE(ReadBytes(path).empty());
}

}  // namespace
