#include "tests/download/DownloadHarness.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/TestLog.h"

namespace DownloadTesting {

namespace {

struct CallbackRecord {
    Outcome outcome;
    HANDLE finished = nullptr;
    bool startReturned = false;
    CRITICAL_SECTION lock;
};

void Record(void* context, DWORD kind, DWORD first, DWORD second) {
    auto* record = static_cast<CallbackRecord*>(context);
    ::EnterCriticalSection(&record->lock);
    if (kind == QmtDownload::DownloadFinished) {
        ++record->outcome.finishedCalls;
        record->outcome.result = first;
        record->outcome.flags = second;
        record->outcome.finishedBeforeStartReturned = !record->startReturned;
    } else {
        ++record->outcome.progressCalls;
        record->outcome.lastProgressSize = first;
    }
    ::LeaveCriticalSection(&record->lock);
    if (kind == QmtDownload::DownloadFinished) ::SetEvent(record->finished);
}

// The test programs write their own log, beside the engine's summary log.
class LogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { testsupport::ConfigureTestLog(L"download_tests"); }
};
const auto* const g_logEnvironment = ::testing::AddGlobalTestEnvironment(new LogEnvironment);

}  // namespace

Outcome RunToEnd(QmtDownload::Downloader& downloader, const std::wstring& path, DWORD timeoutMs) {
    CallbackRecord record;
    record.finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::InitializeCriticalSection(&record.lock);
    downloader.Start(path.c_str(), &Record, &record, nullptr);
    ::EnterCriticalSection(&record.lock);
    record.startReturned = true;
    ::LeaveCriticalSection(&record.lock);
    const bool ended = ::WaitForSingleObject(record.finished, timeoutMs) == WAIT_OBJECT_0;
    // Give a wrong second end the chance to show itself.
    ::Sleep(50);
    ::EnterCriticalSection(&record.lock);
    Outcome outcome = record.outcome;
    ::LeaveCriticalSection(&record.lock);
    outcome.timedOut = !ended;
    if (ended) {
        ::CloseHandle(record.finished);
        ::DeleteCriticalSection(&record.lock);
    }
    // A download that never ended keeps its record alive: the engine may still call it.
    return outcome;
}

Outcome Download(const std::wstring& url, const std::wstring& path, DWORD timeoutMs) {
    auto downloader = std::make_unique<QmtDownload::Downloader>(url.c_str());
    Outcome outcome = RunToEnd(*downloader, path, timeoutMs);
    if (!outcome.timedOut) downloader.reset();
    else downloader.release();
    return outcome;
}

void WriteMetafile(const std::wstring& path, DWORD expected) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&expected);
    WriteBytes(path + L".dl", std::vector<BYTE>(p, p + 4));
}

bool ReadMetafile(const std::wstring& path, DWORD& expected) {
    const std::vector<BYTE> bytes = ReadBytes(path + L".dl");
    if (bytes.size() != 4 || !Exists(path + L".dl")) return false;
    expected = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<DWORD>(bytes[3]) << 24);
    return true;
}

void SetWriteTime(const std::wstring& path, bool future) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value{{now.dwLowDateTime, now.dwHighDateTime}};
    const ULONGLONG day = 24ull * 3600 * 10000000;
    value.QuadPart = future ? value.QuadPart + day : value.QuadPart - day;
    FILETIME when{value.LowPart, value.HighPart};
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::SetFileTime(file, nullptr, nullptr, &when);
    ::CloseHandle(file);
}

std::vector<std::wstring> SummaryLines(const std::wstring& containing) {
    std::vector<std::wstring> lines;
    const std::wstring log = testsupport::ReadUtf16File(testsupport::LogFilePath(L"QMT", L"downloaded_files"));
    for (std::wstring& line : testsupport::SplitLines(log)) {
        if (line.find(containing) == std::wstring::npos) continue;
        if (line.back() == L'\n') line.resize(line.size() - 2);
        lines.push_back(line);
    }
    return lines;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace DownloadTesting
