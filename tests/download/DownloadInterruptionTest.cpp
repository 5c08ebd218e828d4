// A download whose process is terminated mid-transfer resumes in the next run
// from what reached the disk, and ends with the server's exact bytes.
#include <gtest/gtest.h>

#include <string>

#include "download/DownloadResult.h"
#include "tests/download/DownloadHarness.h"
#include "tests/support/TestServer.h"

using namespace DownloadTesting;

namespace {

constexpr size_t kSize = 4 * 1024 * 1024;

std::wstring ChildProgram() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"download_fetch_child.exe";
}

DWORD FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

TEST(DownloadInterruptionTest, TerminatedDownloadResumesFromTheMetafileInTheNextRun) {
    if (!TestServer::Available()) GTEST_SKIP() << "run through tools/httpserver/run-with-server.sh";
    TempFolder folder;
    const std::wstring path = folder.file(L"large.bin");
    // Slow enough that the transfer is surely under way when the process goes.
    TestServer::AddResource(R"({"path": "/large.bin", "size": 4194304, "seed": 61, "rate": 1000000})");

    std::wstring command = L"\"" + ChildProgram() + L"\" \"" + TestServer::Url("/large.bin") + L"\" \"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process))
        << ::GetLastError();
    const DWORD deadline = ::GetTickCount() + 20000;
    while (FileSize(path) < 300000 && ::GetTickCount() < deadline) ::Sleep(20);
    ASSERT_TRUE(::TerminateProcess(process.hProcess, 99));
    ::WaitForSingleObject(process.hProcess, 10000);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ASSERT_EQ(exitCode, 99u) << "the child must not have finished on its own";

    const std::vector<BYTE> kept = ReadBytes(path);
    ASSERT_GE(kept.size(), 300000u);
    ASSERT_LT(kept.size(), kSize);
    EXPECT_EQ(kept, TestServer::Body(61, kept.size())) << "what reached the disk is in order";
    DWORD expected = 0;
    ASSERT_TRUE(ReadMetafile(path, expected)) << "the metafile is there before the transfer ends";
    EXPECT_EQ(expected, kSize);

    // The next run, at full speed.
    TestServer::AddResource(R"({"path": "/large.bin", "size": 4194304, "seed": 61})");
    TestServer::ClearLog();
    const Outcome outcome = Download(TestServer::Url("/large.bin"), path);

    EXPECT_EQ(outcome.result, QmtDownload::Success);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_EQ(ReadBytes(path), TestServer::Body(61, kSize));
    EXPECT_FALSE(Exists(path + L".dl"));
    const auto requests = TestServer::Requests("/large.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[1].Header("range"), "bytes=" + std::to_string(kept.size()) + "-");
    EXPECT_EQ(requests[1].Header("if-unmodified-since"), "Tue, 15 Nov 1994 08:12:31 GMT");
}

}  // namespace
