#pragma once
// Real files and log lines for the hosts tests.
#include <windows.h>

#include <string>

#include "tests/support/TestFiles.h"

// A fresh folder under the temporary folder, removed with everything in it
// (attributes cleared first) when the object goes.
class TempFolder {
public:
    explicit TempFolder(const wchar_t* tag);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const wchar_t* name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

using testsupport::Exists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// The log text written by this process since the object was made.
class LogCapture {
public:
    LogCapture();
    std::wstring text() const;
    bool contains(const std::wstring& piece) const { return text().find(piece) != std::wstring::npos; }

private:
    std::string start_;
};

// Configures the process-wide logger of a test program once.
void ConfigureTestLog(const wchar_t* logName);
