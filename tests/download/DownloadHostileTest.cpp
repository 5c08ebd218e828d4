// Servers that misbehave: missing or oversized headers, cut bodies, wrong
// ranges, connections closed unanswered. Whatever the platform reports, no
// file whose bytes differ from the server's is ever reported as a success.
#include <gtest/gtest.h>

#include "download/DownloadResult.h"
#include "tests/download/DownloadHarness.h"
#include "tests/download/ServerTest.h"
#include "tests/download/SummaryMatch.h"
#include "tests/support/TestServer.h"

using namespace DownloadTesting;

namespace {

class DownloadHostileTest : public ServerTest {
protected:
    // The one guarantee for every hostile answer: success only with the
    // server's exact bytes and no metafile left behind.
    static void ExpectSuccessOnlyWithTheServersBytes(const Outcome& outcome, const std::wstring& path,
                                                     unsigned seed, size_t size) {
        EXPECT_EQ(outcome.finishedCalls, 1);
        if (outcome.result == QmtDownload::Success) {
            EXPECT_EQ(ReadBytes(path), TestServer::Body(seed, size));
            EXPECT_FALSE(Exists(path + L".dl"));
        }
    }
};

TEST_F(DownloadHostileTest, BodyWithoutContentLengthEndsWithTheConnectionAndLeavesNoMetafile) {
    TestServer::AddResource(R"({"path": "/nolength.bin", "size": 200000, "seed": 31, "content_length": false})");
    const std::wstring path = folder_.file(L"nolength.bin");

    const Outcome outcome = Download(TestServer::Url("/nolength.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(31, 200000));
    EXPECT_FALSE(Exists(path + L".dl")) << "the written length becomes the expected size";
}

TEST_F(DownloadHostileTest, OverlongStatusTextDoesNotDisturbTheDownload) {
    const std::string reason(200, 'R');
    TestServer::AddResource(R"({"path": "/reason.bin", "size": 4000, "seed": 32, "status_text": ")" + reason + "\"}");
    const std::wstring path = folder_.file(L"reason.bin");

    const Outcome outcome = Download(TestServer::Url("/reason.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(32, 4000));
}

TEST_F(DownloadHostileTest, OverlongLastModifiedSendsNoResumeHeadersAndFetchesWhole) {
    const std::string stamp = "Wed, 02 Mar 2005 10:20:30 GMT" + std::string(50, ' ') + "x";
    TestServer::AddResource(R"({"path": "/stamp.bin", "size": 1000, "seed": 33, "last_modified": ")" + stamp + "\"}");
    const std::wstring path = PartialCopy(33, 500, 1000);

    const Outcome outcome = Download(TestServer::Url("/stamp.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(33, 1000));
    const auto requests = TestServer::Requests("/stamp.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].Has("range"));
    EXPECT_FALSE(requests[1].Has("if-unmodified-since"));
}

TEST_F(DownloadHostileTest, RangeNotSatisfiableFailsWithoutRetryAndKeepsThePartialCopy) {
    TestServer::AddResource(R"({"path": "/416.bin", "size": 1000, "seed": 34, "range": "416"})");
    const std::wstring path = PartialCopy(34, 500, 1000);

    const Outcome outcome = Download(TestServer::Url("/416.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::HttpPermanentError);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_EQ(TestServer::Requests("/416.bin").size(), 2u);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(34, 500));
    DWORD expected = 0;
    ASSERT_TRUE(ReadMetafile(path, expected));
    EXPECT_EQ(expected, 1000u);
}

TEST_F(DownloadHostileTest, PartialAnswerFromAnotherOffsetIsNotAppendedAndTheFileIsFetchedWhole) {
    TestServer::AddResource(R"({"path": "/wrongrange.bin", "size": 1000, "seed": 35, "range": "wrong"})");
    const std::wstring path = PartialCopy(35, 500, 1000);

    const Outcome outcome = Download(TestServer::Url("/wrongrange.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(35, 1000));
    const auto requests = TestServer::Requests("/wrongrange.bin");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].Header("range"), "bytes=500-");
    EXPECT_FALSE(requests[2].Has("range"));
}

TEST_F(DownloadHostileTest, BodyCutOffMidTransferIsResumedWithARange) {
    TestServer::AddResource(R"({"path": "/cut.bin", "size": 300000, "seed": 36, "cut_after": 100000})");
    const std::wstring path = folder_.file(L"cut.bin");

    const Outcome outcome = Download(TestServer::Url("/cut.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(36, 300000));
    const auto requests = TestServer::Requests("/cut.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("range"), "bytes=100000-");
    EXPECT_TRUE(OneSummaryLine(L"'" + path + L"'", L" I", L"\\(FILE\\) Success .*':\\(1 retries\\) .*"));
}

TEST_F(DownloadHostileTest, BodyCutOffEveryTimeEndsAsResetWithAResumableCopy) {
    TestServer::AddResource(
        R"({"path": "/cutalways.bin", "size": 300000, "seed": 37, "cut_after": 50000, "cut_times": 10})");
    const std::wstring path = folder_.file(L"cutalways.bin");

    const Outcome outcome = Download(TestServer::Url("/cutalways.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::NetworkReset);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_EQ(TestServer::Requests("/cutalways.bin").size(), 4u);
    const std::vector<BYTE> local = ReadBytes(path);
    EXPECT_EQ(local, TestServer::Body(37, local.size())) << "what arrived is in order";
    EXPECT_EQ(local.size(), 200000u);
    DWORD expected = 0;
    ASSERT_TRUE(ReadMetafile(path, expected));
    EXPECT_EQ(expected, 300000u);
}

TEST_F(DownloadHostileTest, ServerClosingUnansweredIsNeverASuccess) {
    TestServer::AddResource(R"({"path": "/silent.bin", "size": 1000, "seed": 38, "close_without_answer": 100})");
    const std::wstring path = folder_.file(L"silent.bin");

    const Outcome outcome = Download(TestServer::Url("/silent.bin"), path);

    EXPECT_NE(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.finishedCalls, 1);
}

TEST_F(DownloadHostileTest, ServerClosingUnansweredOnceEndsRightOrNotAtAll) {
    TestServer::AddResource(R"({"path": "/silentonce.bin", "size": 1000, "seed": 39, "close_without_answer": 1})");
    const std::wstring path = folder_.file(L"silentonce.bin");

    const Outcome outcome = Download(TestServer::Url("/silentonce.bin"), path);

    ExpectSuccessOnlyWithTheServersBytes(outcome, path, 39, 1000);
}

TEST_F(DownloadHostileTest, ContentLengthOf4GiBOrMoreOrUnreadableIsRefusedBeforeAnyWrite) {
    const struct {
        const char* length;
        DWORD result;
    } table[] = {{"4294967295", QmtDownload::FileAccess}, {"4294967296", QmtDownload::FileAccess},
                 {"99999999999999999999999", QmtDownload::FileAccess}, {"-1", QmtDownload::HttpPermanentError},
                 {"12abc", QmtDownload::HttpPermanentError}, {"0x10", QmtDownload::HttpPermanentError}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.length);
        TestServer::AddResource(std::string(R"({"path": "/huge.bin", "size": 1000, "seed": 40, "content_length_text": ")") +
                                row.length + "\"}");
        const std::wstring path = folder_.file(L"huge.bin");
        ::DeleteFileW(path.c_str());

        const Outcome outcome = Download(TestServer::Url("/huge.bin"), path);

        EXPECT_EQ(outcome.result, row.result);
        EXPECT_EQ(outcome.finishedCalls, 1);
        EXPECT_TRUE(ReadBytes(path).empty());
    }
    EXPECT_EQ(SummaryLines(L"[Win32 223]").empty(), false) << "the refusal names the file-too-large error";
}

TEST_F(DownloadHostileTest, BodyLargerThanTheSizeLimitIsRefusedWhetherAnnouncedOrNot) {
    for (const char* announced : {"true", "false"}) {
        SCOPED_TRACE(announced);
        TestServer::AddResource(std::string(R"({"path": "/big.bin", "size": 200000, "seed": 45, "content_length": )") +
                                announced + "}");
        const std::wstring path = folder_.file(L"big.bin");
        ::DeleteFileW(path.c_str());
        QmtDownload::Downloader downloader(TestServer::Url("/big.bin").c_str());
        downloader.SetSizeLimit(100000);

        const Outcome outcome = RunToEnd(downloader, path);

        EXPECT_EQ(outcome.result, QmtDownload::DiskFull);
        EXPECT_EQ(outcome.finishedCalls, 1);
        EXPECT_LE(ReadBytes(path).size(), 100000u);
    }
}

TEST_F(DownloadHostileTest, PartialAnswerToAPlainRequestIsNotAShortSuccess) {
    TestServer::AddResource(R"({"path": "/part.bin", "size": 1000, "seed": 43, "partial_to_plain": 100})");
    // Without a local copy the GET is answered in part; with one, the HEAD.
    for (const std::vector<BYTE>& local : {std::vector<BYTE>(), TestServer::Body(43, 100)}) {
        SCOPED_TRACE(local.size());
        const std::wstring path = folder_.file(L"part.bin");
        ::DeleteFileW(path.c_str());
        if (!local.empty()) WriteBytes(path, local);

        const Outcome outcome = Download(TestServer::Url("/part.bin"), path);

        EXPECT_EQ(outcome.result, QmtDownload::HttpPermanentError);
        EXPECT_EQ(outcome.finishedCalls, 1);
        EXPECT_EQ(ReadBytes(path), local);
    }
}

// Short limits stand in for the tool's minute and half hour.
TEST_F(DownloadHostileTest, ServerFallingSilentEndsAsATimeoutWithinTheLimits) {
    TestServer::AddResource(R"({"path": "/silent-body.bin", "size": 5000, "seed": 44, "hang_after": 0})");
    const struct {
        DWORD overallMs;
        size_t fewestRequests, mostRequests;
        ULONGLONG withinMs;
    } table[] = {{0, 4, 4, 6500}, {2500, 1, 3, 4500}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.overallMs);
        TestServer::ClearLog();
        const std::wstring path = folder_.file(L"silent-body.bin");
        QmtDownload::Downloader downloader(TestServer::Url("/silent-body.bin").c_str(), 1000, row.overallMs);
        const ULONGLONG start = ::GetTickCount64();

        const Outcome outcome = RunToEnd(downloader, path, 20000);

        EXPECT_FALSE(outcome.timedOut);
        EXPECT_EQ(outcome.result, QmtDownload::NetworkTimeout);
        const size_t requests = TestServer::Requests("/silent-body.bin").size();
        EXPECT_GE(requests, row.fewestRequests) << "a time-out is retried";
        EXPECT_LE(requests, row.mostRequests) << "but not past the overall limit";
        EXPECT_LT(::GetTickCount64() - start, row.withinMs);
    }
}

TEST_F(DownloadHostileTest, SlowAnswerIsWaitedFor) {
    TestServer::AddResource(
        R"({"path": "/slow.bin", "size": 100000, "seed": 41, "delay_ms": 1500, "rate": 200000})");
    const std::wstring path = folder_.file(L"slow.bin");

    const Outcome outcome = Download(TestServer::Url("/slow.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(41, 100000));
}

}  // namespace
