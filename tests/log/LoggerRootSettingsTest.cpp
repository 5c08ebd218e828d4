// Settings at the root logging key reach every logger of the machine, so
// these tests run alone (RUN_SERIAL) and restore the key.
#include <gtest/gtest.h>

#include "log/Logger.h"
#include "log/LogSettings.h"
#include "tests/log/LoggerFixture.h"

using namespace KvQmtLogging;
using namespace LogTest;

TEST_F(LoggerFixture, LevelAtEachOfTheThreeKeys) {
    ScopedRegistryValue root(SettingsKey(), L"LogLevel", 2);
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        EXPECT_EQ(2, logger.Level()) << "root key";
    }
    ScopedRegistryValue component(SettingsKey(component_), L"LogLevel", 3);
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        EXPECT_EQ(3, logger.Level()) << "component key over root key";
    }
    ScopedRegistryValue name(SettingsKey(component_, kLogName), L"LogLevel", 5);
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        EXPECT_EQ(5, logger.Level()) << "log name key over both";
        logger.Log(LogDebug, L"%s: debug", L"Test::Debug");
    }
    bool debugWritten = false;
    for (const auto& line : ReadLogLines(LogPath())) debugWritten = debugWritten || MessageOf(line) == L"Test::Debug: debug";
    EXPECT_TRUE(debugWritten);
}

TEST_F(LoggerFixture, AllOnesAtSpecificKeysFallsBackToTheRootValue) {
    ScopedRegistryValue root(SettingsKey(), L"LogLevel", 2);
    ScopedRegistryValue component(SettingsKey(component_), L"LogLevel", 0xFFFFFFFF);
    ScopedRegistryValue name(SettingsKey(component_, kLogName), L"LogLevel", 0xFFFFFFFF);
    Logger logger;
    logger.Configure(0, component_.c_str(), kLogName);
    EXPECT_EQ(2, logger.Level());
}

TEST_F(LoggerFixture, LevelZeroAtTheRootWritesNothingAtAll) {
    ScopedRegistryValue root(SettingsKey(), L"LogLevel", 0u);
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        logger.Log(LogFatal, L"%s: fatal", L"Test::Fatal");
        logger.Log(LogError, L"%s: error", L"Test::Error");
        logger.EndLog();
    }
    EXPECT_FALSE(FileExists(LogPath())) << "not even the start marker";
}

TEST_F(LoggerFixture, RotationSettingsFromTheRootKey) {
    ScopedRegistryValue size(SettingsKey(), L"LogMaxSizeKB", 1u);
    ScopedRegistryValue count(SettingsKey(), L"LogRotateCount", 1u);
    {
        Logger logger;
        logger.Configure(0, component_.c_str(), kLogName);
        // About 1.2 KiB each: every line after the first finds the file full.
        for (int i = 0; i < 4; ++i) logger.Log(LogInfo, L"%s: %d %s", L"Test::Big", i, std::wstring(600, L'b').c_str());
    }
    const std::wstring path = LogPath();
    const std::wstring base = path.substr(0, path.size() - 4);
    EXPECT_TRUE(FileExists(base + L".1.log"));
    EXPECT_FALSE(FileExists(base + L".2.log"));
}

// The common folder is machine-wide too: set for the test and put back.
TEST(LoggerPath, ExpandableCommonFolderIsExpandedAndARelativeOneRefused) {
    const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::wstring original = CommonAppData();
    ASSERT_FALSE(original.empty());
    ASSERT_TRUE(SetEnvironmentVariableW(L"KV_TEST_COMMON", original.c_str()));
    const struct {
        std::wstring value;
        bool built;
    } cases[] = {{L"%KV_TEST_COMMON%", true}, {L"%KV_TEST_UNSET%\\data", false}};
    for (const auto& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", REG_EXPAND_SZ,
                                                 c.value.c_str(),
                                                 static_cast<DWORD>((c.value.size() + 1) * sizeof(wchar_t))));
        std::wstring path;
        EXPECT_EQ(c.built, BuildLogPath(L"C", L"n", path));
        if (c.built) {
            EXPECT_EQ(original + L"\\K-Vantor\\logs\\C\\n.log", path);
        }
    }
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", REG_SZ,
                                             original.c_str(),
                                             static_cast<DWORD>((original.size() + 1) * sizeof(wchar_t))));
}
