// The Logger against the real registry and real log files. Every test uses a
// component of its own, so its settings keys and its log folder are private.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "log/KvQmtLog.h"
#include "log/Logger.h"
#include "log/LogSettings.h"
#include "common/UniqueHandle.h"
#include "tests/log/LoggerFixture.h"

using namespace KvQmtLogging;
using namespace LogTest;

TEST_F(LoggerFixture, DefaultLevelIsFourWithStartAndAutoClosedMarkers) {
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        logger.Log(LogInfo, L"%s: info %d", L"Test::Info", 1);
        logger.Log(LogDebug, L"%s: debug %d", L"Test::Debug", 2);
        logger.Log(LogError, L"%s: error %d", L"Test::Error", 3);
    }
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(L"\r\n", lines[0]) << "an empty line without prefix begins each run";
    EXPECT_EQ(0u, MessageOf(lines[1]).find(L"***  LOGGING STARTED  *** (UTC"));
    EXPECT_EQ(L"Test::Info: info 1", MessageOf(lines[2]));
    EXPECT_EQ(L"Test::Error: error 3", MessageOf(lines[3]));
    EXPECT_EQ(L"***  LOG AUTO-CLOSED ***", MessageOf(lines[4]));
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(IsWellFormedLine(lines[i])) << i;
    EXPECT_NE(std::wstring::npos, lines[2].find(L"]  I: ")) << lines[2];
    EXPECT_NE(std::wstring::npos, lines[3].find(L"] *E: ")) << lines[3];
}

TEST_F(LoggerFixture, LineCarriesThisProcessAndThreadInHex) {
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        logger.Log(LogWarning, L"%s: here", L"Test::Ids");
    }
    wchar_t ids[32];
    _snwprintf(ids, 32, L"[%04lx.%04lx] .W: ", GetCurrentProcessId(), GetCurrentThreadId());
    ids[31] = L'\0';
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(4u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[2].find(ids)) << lines[2];
}

TEST_F(LoggerFixture, LogNameKeyWinsOverComponentKey) {
    ScopedRegistryValue componentLevel(SettingsKey(component_), L"LogLevel", 3);
    {
        ScopedRegistryValue nameLevel(SettingsKey(component_, kLogName), L"LogLevel", 5);
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        EXPECT_EQ(5, logger.Level());
    }
    Logger logger;
    logger.Configure(0, component_.c_str(), kLogName);
    EXPECT_EQ(3, logger.Level());
    logger.Log(LogInfo, L"%s: not written", L"Test::Info");
    logger.Log(LogWarning, L"%s: written", L"Test::Warning");
    logger.EndLog();
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    std::vector<std::wstring> messages;
    for (const auto& line : lines) messages.push_back(MessageOf(line));
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), L"Test::Warning: written"));
    EXPECT_EQ(0, std::count(messages.begin(), messages.end(), L"Test::Info: not written"));
}

TEST_F(LoggerFixture, AllOnesAtSpecificKeysCountsAsAbsent) {
    ScopedRegistryValue componentLevel(SettingsKey(component_), L"LogLevel", 0xFFFFFFFF);
    ScopedRegistryValue nameLevel(SettingsKey(component_, kLogName), L"LogLevel", 0xFFFFFFFF);
    Logger logger;
    logger.Configure(0, component_.c_str(), kLogName);
    EXPECT_EQ(ReadLogSetting(nullptr, nullptr, L"LogLevel", 4), logger.Level());
}

TEST_F(LoggerFixture, StringSettingIsIgnoredAndNamedInTheLog) {
    // "5" as a string would read as the level 53 if taken as four bytes.
    const wchar_t text[] = L"5";
    ScopedRegistryValue nameLevel(SettingsKey(component_, kLogName), L"LogLevel", REG_SZ, text, sizeof(text));
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        EXPECT_EQ(4, logger.Level());
    }
    bool named = false;
    for (const auto& line : ReadLogLines(LogPath())) {
        named = named || (line.find(L".W: KvQmtLogging::Logger::ApplyConfiguration: value \"LogLevel\"") !=
                              std::wstring::npos &&
                          line.find(L"ignored") != std::wstring::npos);
    }
    EXPECT_TRUE(named);
}

TEST_F(LoggerFixture, MaxSizeZeroRotatesAtEveryLineKeepingTheCount) {
    ScopedRegistryValue size(SettingsKey(component_), L"LogMaxSizeKB", 0u);
    ScopedRegistryValue count(SettingsKey(component_), L"LogRotateCount", 2u);
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        for (int i = 0; i < 5; ++i) logger.Log(LogInfo, L"%s: %d", L"Test::Line", i);
    }
    // Each file holds one line; the newest three are kept.
    const std::wstring path = LogPath();
    const std::wstring rotated1 = path.substr(0, path.size() - 4) + L".1.log";
    const std::wstring rotated2 = path.substr(0, path.size() - 4) + L".2.log";
    const std::wstring rotated3 = path.substr(0, path.size() - 4) + L".3.log";
    ASSERT_EQ(1u, ReadLogLines(path).size());
    EXPECT_EQ(L"***  LOG AUTO-CLOSED ***", MessageOf(ReadLogLines(path)[0]));
    ASSERT_EQ(1u, ReadLogLines(rotated1).size());
    EXPECT_EQ(L"Test::Line: 4", MessageOf(ReadLogLines(rotated1)[0]));
    ASSERT_EQ(1u, ReadLogLines(rotated2).size());
    EXPECT_EQ(L"Test::Line: 3", MessageOf(ReadLogLines(rotated2)[0]));
    EXPECT_FALSE(FileExists(rotated3));
}

TEST_F(LoggerFixture, DeferredOpenMakesNothingUntilTheFirstMessage) {
    {
        Logger unused;
        unused.Configure(LogFlagDeferOpen, component_.c_str(), kLogName);
        unused.EndLog();
    }
    EXPECT_FALSE(DirectoryExists(LogFolder()));
    Logger logger;
    logger.Configure(LogFlagDeferOpen, component_.c_str(), kLogName);
    EXPECT_FALSE(DirectoryExists(LogFolder()));
    // Verbose passes the first test, makes the configuration happen, and is
    // then dropped by the real level.
    logger.Log(LogVerbose, L"%s: verbose", L"Test::Verbose");
    EXPECT_EQ(4, logger.Level());
    logger.Log(LogInfo, L"%s: info", L"Test::Info");
    logger.EndLog();
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(0u, MessageOf(lines[1]).find(L"***  LOGGING STARTED  ***"));
    EXPECT_EQ(L"Test::Info: info", MessageOf(lines[2]));
    EXPECT_EQ(L"***  LOGGING ENDED  ***", MessageOf(lines[3]));
}

TEST_F(LoggerFixture, QuietMarkersNeedLevelFive) {
    {
        Logger logger;
        logger.Configure(LogFlagQuietMarkers, component_.c_str(), kLogName);
        logger.Log(LogInfo, L"%s: only line", L"Test::Info");
        logger.EndLog();
    }
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"Test::Info: only line", MessageOf(lines[0]));
}

TEST_F(LoggerFixture, SecondConfigureChangesNothing) {
    const std::wstring other = UniqueName(L"Other");
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        logger.Configure(0, other.c_str(), L"elsewhere");
        logger.Log(LogInfo, L"%s: stays", L"Test::Info");
    }
    EXPECT_FALSE(DirectoryExists(CommonAppData() + L"\\K-Vantor\\logs\\" + other));
    EXPECT_EQ(L"Test::Info: stays", MessageOf(ReadLogLines(LogPath())[2]));
}

TEST_F(LoggerFixture, AutoClosedMarkerGoesNowhereAfterEndLog) {
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        logger.EndLog();
        logger.Log(LogError, L"%s: after the end", L"Test::Late");
    }
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(L"***  LOGGING ENDED  ***", MessageOf(lines[2]));
}

TEST_F(LoggerFixture, MessageOfThe131071CharactersFitsAndOneMoreDoesNot) {
    // Room for the long lines in one file.
    ScopedRegistryValue size(SettingsKey(component_), L"LogMaxSizeKB", 4096u);
    const std::wstring longest(131071, L'x');
    const std::wstring tooLong(131072, L'y');
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        logger.Log(LogInfo, L"%s", longest.c_str());
        logger.Log(LogInfo, L"%s", tooLong.c_str());
    }
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(longest, MessageOf(lines[2]));
    EXPECT_EQ(L"KV_QMT_LOG failure: too large message, format: %s", MessageOf(lines[3]));
    EXPECT_NE(std::wstring::npos, lines[3].find(L"] *E: ")) << "the failure is an error line";
}

TEST_F(LoggerFixture, MessageGrowsThroughEveryBufferSize) {
    ScopedRegistryValue size(SettingsKey(component_), L"LogMaxSizeKB", 4096u);
    Logger logger;
    logger.Configure(0, component_.c_str(), kLogName);
    const size_t sizes[] = {2047, 2048, 4095, 4096, 65535, 65536};
    for (size_t size : sizes) logger.Log(LogInfo, L"%s", std::wstring(size, L'z').c_str());
    logger.EndLog();
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    ASSERT_EQ(9u, lines.size());
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(sizes[i], MessageOf(lines[2 + i]).size());
}

TEST_F(LoggerFixture, LastErrorSurvivesEveryKindOfCall) {
    Logger logger;
    SetLastError(0x1234);
    logger.Configure(0, component_.c_str(), kLogName);
    EXPECT_EQ(0x1234u, GetLastError()) << "Configure";
    logger.Log(LogInfo, L"%s: written", L"Test::Info");
    EXPECT_EQ(0x1234u, GetLastError()) << "a written line";
    logger.Log(LogVerbose, L"%s: dropped", L"Test::Verbose");
    EXPECT_EQ(0x1234u, GetLastError()) << "a dropped line";
    logger.Log(LogInfo, L"%s", std::wstring(200000, L'q').c_str());
    EXPECT_EQ(0x1234u, GetLastError()) << "a too large message";
    logger.EndLog();
    EXPECT_EQ(0x1234u, GetLastError()) << "EndLog";
}

TEST_F(LoggerFixture, ThreadsNeverShareALine) {
    const int kThreads = 4;
    const int kLines = 150;
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&logger, t] {
                for (int i = 0; i < kLines; ++i) logger.Log(LogInfo, L"%s: %d %d %s", L"Test::Thread", t, i, L"payload");
            });
        }
        for (auto& thread : threads) thread.join();
    }
    std::set<std::wstring> seen;
    for (const auto& line : ReadLogLines(LogPath())) {
        if (line == L"\r\n") continue;
        EXPECT_TRUE(IsWellFormedLine(line)) << line.substr(0, 80);
        if (MessageOf(line).find(L"Test::Thread") == 0) seen.insert(MessageOf(line));
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * kLines), seen.size());
}

TEST_F(LoggerFixture, ProcessWideLoggerIsOneObjectAndSilentUntilConfigured) {
    std::atomic<Logger*> first{nullptr};
    std::atomic<int> different{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            Logger* mine = &GetLogger();
            Logger* expected = nullptr;
            if (!first.compare_exchange_strong(expected, mine) && expected != mine) ++different;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, different.load());
    EXPECT_FALSE(IsLogLevelEnabled(LogFatal)) << "level 0 before the configuration";

    GetLogger().Configure(0, component_.c_str(), kLogName);
    EXPECT_TRUE(IsLogLevelEnabled(LogInfo));
    EXPECT_FALSE(IsLogLevelEnabled(LogDebug));
    SetLastError(77);
    LogMessage(LogInfo, L"%s: through the process-wide logger %lu", L"Test::Global", 42ul);
    EXPECT_EQ(77u, GetLastError());
    GetLogger().EndLog();
    EXPECT_EQ(L"Test::Global: through the process-wide logger 42", MessageOf(ReadLogLines(LogPath())[2]));
}

namespace {
// A log file whose open does not return until it is let go, as one that a
// user holds under an opportunistic lock whose break is never acknowledged.
class OpenThatHangs : public FileLowLevel {
public:
    OpenThatHangs(HANDLE entered, HANDLE letGo) : entered_(entered), letGo_(letGo) {}
    bool Open(HANDLE folder, const wchar_t* name) override {
        SetEvent(entered_);
        WaitForSingleObject(letGo_, 30000);
        return FileLowLevel::Open(folder, name);
    }

private:
    HANDLE entered_;
    HANDLE letGo_;
};

class LoggerWithHangingOpen : public Logger {
public:
    LoggerWithHangingOpen(HANDLE entered, HANDLE letGo) : entered_(entered), letGo_(letGo) {}

protected:
    std::unique_ptr<FileLowLevel> CreateLowLevel() override {
        return std::make_unique<OpenThatHangs>(entered_, letGo_);
    }

private:
    HANDLE entered_;
    HANDLE letGo_;
};
}  // namespace

TEST_F(LoggerFixture, ThreadStuckInTheFileOpenHoldsUpNoOtherThreadsLogCall) {
    kv::unique_handle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    kv::unique_handle letGo(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    {
        LoggerWithHangingOpen logger(entered.get(), letGo.get());
        logger.Configure(LogFlagDeferOpen, component_.c_str(), kLogName);
        std::thread stuck([&] { logger.Log(LogInfo, L"%s: first", L"Test::Stuck"); });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(entered.get(), 10000));
        std::atomic<bool> returned{false};
        std::thread other([&] {
            logger.Log(LogError, L"%s: meanwhile", L"Test::Other");
            logger.Log(LogError, L"%s: meanwhile", L"Test::Other");
            returned = true;
        });
        for (int i = 0; i < 100 && !returned; ++i) Sleep(100);
        EXPECT_TRUE(returned) << "a log call waited for the thread stuck in the file open";
        SetEvent(letGo.get());
        stuck.join();
        other.join();
        logger.Log(LogInfo, L"%s: after", L"Test::After");
    }
    std::vector<std::wstring> messages;
    for (const auto& line : ReadLogLines(LogPath())) messages.push_back(MessageOf(line));
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), L"Test::Stuck: first"));
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), L"Test::After: after")) << "the log goes on";
}

TEST(LoggerPath, ComposedUnderTheCommonFolderWithinTheLimit) {
    std::wstring path = L"unchanged";
    EXPECT_TRUE(ComposeLogPath(L"C:\\ProgramData", L"OvSA", L"dc_upgrade_tool", path));
    EXPECT_EQ(L"C:\\ProgramData\\K-Vantor\\logs\\OvSA\\dc_upgrade_tool.log", path);
    EXPECT_TRUE(ComposeLogPath(L"C:\\ProgramData", nullptr, L"x", path));
    EXPECT_EQ(L"C:\\ProgramData\\K-Vantor\\logs\\misc\\x.log", path);

    // 1039 characters and the terminator fit; one more does not.
    const std::wstring tail = L"\\K-Vantor\\logs\\c\\n.log";
    const std::wstring fits(1039 - tail.size(), L'f');
    EXPECT_TRUE(ComposeLogPath(fits, L"c", L"n", path));
    EXPECT_EQ(1039u, path.size());
    path = L"unchanged";
    EXPECT_FALSE(ComposeLogPath(fits + L"f", L"c", L"n", path));
    EXPECT_EQ(L"unchanged", path);
    EXPECT_FALSE(ComposeLogPath(L"", L"c", L"n", path));
}
