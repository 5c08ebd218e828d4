#pragma once
// Points the TCP/IP database path, which names the hosts folder, at a folder
// the test makes, and puts the machine's value back afterwards. Tests using
// it change machine-wide state and hold the hosts-location lock.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestLog.h"

class HostsLocationFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The value as the test wants it; no value at all with DeleteValue.
    void SetValue(DWORD type, const void* data, DWORD size);
    void SetString(const std::wstring& text, DWORD type = REG_SZ);
    void DeleteValue();

    std::wstring etc() const { return folder_->path(); }
    std::wstring hosts() const { return folder_->file(L"hosts"); }
    std::wstring backup() const { return folder_->file(L"hosts.bak"); }

private:
    std::unique_ptr<testsupport::TempFolder> folder_;
    bool hadValue_ = false;
    DWORD savedType_ = REG_NONE;
    std::vector<BYTE> savedData_;
};
