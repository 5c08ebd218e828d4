#pragma once
// What only the log tests need: the keys of the log settings, private
// component names and the shape of a log line.
#include <windows.h>

#include <string>

#include "tests/support/CheckedWrites.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestLog.h"

namespace LogTest {

// The shared helpers the log tests call by their plain names.
using testsupport::CommonAppData;
using testsupport::DirectoryExists;
using testsupport::FileExists;
using testsupport::ReadLogLines;
using testsupport::ScopedRegistryValue;
using testsupport::TempFolder;
using testsupport::bytes::ReadBytes;
using testsupport::bytes::WriteBytes;

// HKLM\SOFTWARE\K-Vantor\QMT\Logging[\component[\logName]]
std::wstring SettingsKey(const std::wstring& component = L"", const std::wstring& logName = L"");

// A component name no other test uses, so that its keys and folder are private.
std::wstring UniqueName(const std::wstring& base);

// True when the line has the form "YYYY-MM-DD hh:mm:ss.mmm [pid.tid] TG: text\r\n".
bool IsWellFormedLine(const std::wstring& line);

// The message part of a well-formed line, without the line end.
std::wstring MessageOf(const std::wstring& line);

}  // namespace LogTest
