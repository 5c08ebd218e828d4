// Whole downloads with the real WinINet against the local test server: the
// HEAD-then-GET decision, resuming, up-to-date copies, HTTP failures and retries.
#include <gtest/gtest.h>

#include "download/DownloadResult.h"
#include "tests/download/DownloadHarness.h"
#include "tests/download/ServerTest.h"
#include "tests/download/SummaryMatch.h"
#include "tests/support/TestServer.h"

using namespace DownloadTesting;
using QmtDownload::DownloadUpToDate;

namespace {

// Every summary ends with the way the download took, here the only one.
const std::wstring kViaPreconfigured = L" via WinINet's preconfigured connection";

class DownloadTest : public ServerTest {};

TEST_F(DownloadTest, UnparsableUrlEndsAtOnceWithInvalidUrlAndNoRequest) {
    const std::wstring url = L"kvdl-not-a-url-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring path = folder_.file(L"never.bin");

    const Outcome outcome = Download(url, path);

    EXPECT_EQ(outcome.result, QmtDownload::InvalidUrl);
    EXPECT_EQ(outcome.flags, 0u);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_TRUE(outcome.finishedBeforeStartReturned);
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(OneSummaryLine(L"'" + url + L"'", L".W",
                               L"\\(HEAD\\) InvalidUrl '" + Literal(url) +
                                   L"': \\(0 retries\\) \\[HTTP 0\\]\\[Win32 0\\] in \\d+ms" + kViaPreconfigured));
}

TEST_F(DownloadTest, NewDestinationIsFetchedWithOneFullGet) {
    TestServer::AddResource(R"({"path": "/new.bin", "size": 150000, "seed": 11})");
    const std::wstring path = folder_.file(L"new.bin");

    const Outcome outcome = Download(TestServer::Url("/new.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, 0u);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_GE(outcome.progressCalls, 3) << "one progress report per chunk of at most 65535 bytes";
    EXPECT_EQ(ReadBytes(path), TestServer::Body(11, 150000));
    EXPECT_FALSE(Exists(path + L".dl"));
    const auto requests = TestServer::Requests("/new.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_FALSE(requests[0].Has("range"));
    EXPECT_EQ(requests[0].Header("user-agent"), "KvQmtDownload");
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I",
                               L"\\(FILE\\) Success '" + Literal(TestServer::Url("/new.bin")) + L"' -> '" +
                                   Literal(path) +
                                   L"':\\(0 retries\\) \\[HTTP 200\\]\\[Win32 0\\] in \\d+ms "
                                   L"\\(150000 bytes -> \\d+kB/s\\)" + kViaPreconfigured));
}

TEST_F(DownloadTest, CurrentLocalCopyIsUpToDateWithoutGetAndLosesItsStaleMetafile) {
    TestServer::AddResource(R"({"path": "/current.bin", "size": 1000, "seed": 12})");
    const std::wstring path = folder_.file(L"current.bin");
    const std::vector<BYTE> local(1000, 0x5A);
    WriteBytes(path, local);
    WriteMetafile(path, 1000);

    const Outcome outcome = Download(TestServer::Url("/current.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, static_cast<DWORD>(DownloadUpToDate));
    EXPECT_EQ(outcome.finishedCalls, 1);
    const auto requests = TestServer::Requests("/current.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(ReadBytes(path), local) << "an up-to-date copy is not touched";
    EXPECT_FALSE(Exists(path + L".dl"));
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I",
                               L"\\(FILE\\) Success '" + Literal(TestServer::Url("/current.bin")) + L"' -> '" +
                                   Literal(path) + L"': UP-TO-DATE \\(0 retries\\) in \\d+ms" + kViaPreconfigured));
}

TEST_F(DownloadTest, LocalCopyOlderThanTheServersIsFetchedWhole) {
    TestServer::AddResource(
        R"({"path": "/newer.bin", "size": 1000, "seed": 13, "last_modified": "Sat, 01 Jan 2033 00:00:00 GMT"})");
    const std::wstring path = folder_.file(L"newer.bin");
    WriteBytes(path, std::vector<BYTE>(1000, 0x5A));

    const Outcome outcome = Download(TestServer::Url("/newer.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.flags, 0u);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(13, 1000));
    const auto requests = TestServer::Requests("/newer.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_FALSE(requests[1].Has("range"));
}

TEST_F(DownloadTest, LocalCopyOfAnotherSizeIsFetchedWhole) {
    TestServer::AddResource(R"({"path": "/resized.bin", "size": 1200, "seed": 14})");
    const std::wstring path = folder_.file(L"resized.bin");
    WriteBytes(path, TestServer::Body(14, 1000));

    const Outcome outcome = Download(TestServer::Url("/resized.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(14, 1200));
    const auto requests = TestServer::Requests("/resized.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].Has("range"));
}

TEST_F(DownloadTest, PartialCopyIsResumedWithARangeUnderTheServersLastModified) {
    const char* lastModified = "Wed, 02 Mar 2005 10:20:30 GMT";
    TestServer::AddResource(
        R"({"path": "/resume.bin", "size": 1000, "seed": 15, "last_modified": "Wed, 02 Mar 2005 10:20:30 GMT"})");
    const std::wstring path = PartialCopy(15, 500, 1000);

    const Outcome outcome = Download(TestServer::Url("/resume.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(15, 1000));
    EXPECT_FALSE(Exists(path + L".dl"));
    const auto requests = TestServer::Requests("/resume.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].Header("range"), "bytes=500-");
    EXPECT_EQ(requests[1].Header("if-unmodified-since"), lastModified);
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I",
                               L"\\(FILE\\) Success .*':\\(0 retries\\) \\[HTTP 200\\]\\[Win32 0\\] in \\d+ms "
                               L"\\(500 bytes -> \\d+kB/s\\)" + kViaPreconfigured));
}

TEST_F(DownloadTest, PartialCopyRestartsFromZeroWhenTheServerIgnoresTheRange) {
    TestServer::AddResource(R"({"path": "/norange.bin", "size": 1000, "seed": 16, "range": "ignore"})");
    const std::wstring path = PartialCopy(16, 500, 1000);

    const Outcome outcome = Download(TestServer::Url("/norange.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(16, 1000)) << "a 200 answer is written from the start";
    EXPECT_FALSE(Exists(path + L".dl"));
    const auto requests = TestServer::Requests("/norange.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("range"), "bytes=500-");
}

TEST_F(DownloadTest, PreconditionFailedEmptiesThePartialCopyAndTheRetryFetchesItWhole) {
    TestServer::AddResource(R"({"path": "/changed.bin", "size": 1000, "seed": 17, "get_statuses": [412]})");
    const std::wstring path = PartialCopy(99, 500, 1000);  // bytes of an older version

    const Outcome outcome = Download(TestServer::Url("/changed.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(17, 1000));
    const auto requests = TestServer::Requests("/changed.bin");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].Header("range"), "bytes=500-");
    EXPECT_EQ(requests[2].method, "GET");
    EXPECT_FALSE(requests[2].Has("range"));
    EXPECT_FALSE(requests[2].Has("if-unmodified-since"));
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I", L"\\(FILE\\) Success .*':\\(1 retries\\) .*"));
}

TEST_F(DownloadTest, NotFoundOnHeadIsNotRetriedAndLeavesTheLocalCopyAlone) {
    const std::wstring path = PartialCopy(18, 500, 1000);

    const Outcome outcome = Download(TestServer::Url("/missing.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::HttpNotFound);
    EXPECT_EQ(outcome.finishedCalls, 1);
    const auto requests = TestServer::Requests("/missing.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(ReadBytes(path), TestServer::Body(18, 500));
    DWORD expected = 0;
    ASSERT_TRUE(ReadMetafile(path, expected));
    EXPECT_EQ(expected, 1000u);
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L".W",
                               L"\\(FILE\\) HttpNotFound .*':\\(0 retries\\) \\[HTTP 404\\]\\[Win32 0\\] in \\d+ms "
                               L"\\(0 bytes -> 0kB/s\\)" + kViaPreconfigured));
}

TEST_F(DownloadTest, ThreeUnavailableAnswersAreRetriedThreeTimes) {
    TestServer::AddResource(R"({"path": "/busy3.bin", "size": 5000, "seed": 19, "statuses": [503, 503, 503]})");
    const std::wstring path = folder_.file(L"busy3.bin");

    const Outcome outcome = Download(TestServer::Url("/busy3.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(19, 5000));
    EXPECT_EQ(TestServer::Requests("/busy3.bin").size(), 4u);
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I", L"\\(FILE\\) Success .*':\\(3 retries\\) .*"));
}

TEST_F(DownloadTest, FourUnavailableAnswersEndWithRetryableError) {
    TestServer::AddResource(R"({"path": "/busy4.bin", "size": 5000, "seed": 20, "statuses": [503, 503, 503, 503]})");
    const std::wstring path = folder_.file(L"busy4.bin");

    const Outcome outcome = Download(TestServer::Url("/busy4.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::HttpRetryableError);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_EQ(TestServer::Requests("/busy4.bin").size(), 4u);
    EXPECT_TRUE(ReadBytes(path).empty());
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L".W",
                               L"\\(FILE\\) HttpRetryableError .*':\\(3 retries\\) \\[HTTP 503\\].*"));
}

// The worker thread may still be leaving its callback when the owner, woken
// by the end, destroys the download.
TEST_F(DownloadTest, DownloadDestroyedTheMomentItsEndIsReportedGoesWithoutHanging) {
    TestServer::AddResource(R"({"path": "/quick.bin", "size": 100, "seed": 19})");
    kv::unique_handle ended(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    const auto signal = [](void* event, DWORD kind, DWORD, DWORD) {
        if (kind == QmtDownload::DownloadFinished) ::SetEvent(static_cast<HANDLE>(event));
    };
    for (int i = 0; i < 40; ++i) {
        const std::wstring path = folder_.file((L"quick" + std::to_wstring(i)).c_str());
        QmtDownload::Downloader downloader(TestServer::Url("/quick.bin").c_str());
        downloader.Start(path.c_str(), signal, ended.get(), nullptr);
        ASSERT_EQ(::WaitForSingleObject(ended.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << i;
    }
}

TEST_F(DownloadTest, SecondStartOfTheSameDownloadEndsAtOnceWhenTheFileIsCurrent) {
    TestServer::AddResource(R"({"path": "/twice.bin", "size": 3000, "seed": 21})");
    const std::wstring path = folder_.file(L"twice.bin");
    QmtDownload::Downloader downloader(TestServer::Url("/twice.bin").c_str());
    ASSERT_EQ(RunToEnd(downloader, path).result, QmtDownload::Success);

    const Outcome again = RunToEnd(downloader, path);

    EXPECT_EQ(again.result, QmtDownload::Success);
    EXPECT_EQ(again.flags, static_cast<DWORD>(DownloadUpToDate));
    EXPECT_EQ(again.finishedCalls, 1);
    EXPECT_TRUE(again.finishedBeforeStartReturned) << "the stored answer decides without a request";
    EXPECT_EQ(TestServer::Requests("/twice.bin").size(), 1u);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(21, 3000));
}

}  // namespace
