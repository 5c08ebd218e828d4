#pragma once
#include <gtest/gtest.h>

#include "tests/log/LogTestSupport.h"

// A private component for each test: its settings keys and its log folder are
// removed before and after.
class LoggerFixture : public ::testing::Test {
public:
    static constexpr const wchar_t* kLogName = L"test_log";

protected:
    LoggerFixture() : component_(LogTest::UniqueName(L"LogTest")) { Clean(); }
    ~LoggerFixture() override { Clean(); }

    std::wstring LogFolder() const { return testsupport::CommonAppData() + L"\\K-Vantor\\logs\\" + component_; }
    std::wstring LogPath() const { return testsupport::LogFilePath(component_, kLogName); }

    void Clean() {
        testsupport::DeleteTree(LogTest::SettingsKey(component_));
        testsupport::RemoveTree(LogFolder());
    }

    std::wstring component_;
};
