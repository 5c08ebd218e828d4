#pragma once
// Fixtures the log tests make for themselves: registry values, folders and
// the reading of UTF-16 log files.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace LogTest {

// A DWORD (or other) value under HKLM that is removed again with its key
// chain when the object goes; the 32-bit view, as the program sees it.
class ScopedRegistryValue {
public:
    ScopedRegistryValue(const std::wstring& key, const std::wstring& name, DWORD value);
    ScopedRegistryValue(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size);
    ~ScopedRegistryValue();
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

private:
    std::wstring key_;
    std::wstring name_;
};

// Removes a key and everything beneath it under HKLM.
void DeleteRegistryTree(const std::wstring& key);

using testsupport::RemoveTree;
using testsupport::TempFolder;

bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// The whole-file helpers of tests/support with the bytes as a vector.
std::vector<unsigned char> ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);

// The text after the byte-order mark, split after each CR LF; a last piece
// without CR LF is returned as it is. Fails the test when the mark is absent.
std::vector<std::wstring> ReadLogLines(const std::wstring& path);

// Where the process-wide convention puts a log: C:\ProgramData\K-Vantor\logs\...
std::wstring CommonAppData();
std::wstring LogPathFor(const std::wstring& component, const std::wstring& logName);

// HKLM\SOFTWARE\K-Vantor\QMT\Logging[\component[\logName]]
std::wstring SettingsKey(const std::wstring& component = L"", const std::wstring& logName = L"");

// A component name no other test uses, so that its keys and folder are private.
std::wstring UniqueName(const std::wstring& base);

// True when the line has the form "YYYY-MM-DD hh:mm:ss.mmm [pid.tid] TG: text\r\n".
bool IsWellFormedLine(const std::wstring& line);

// The message part of a well-formed line, without the line end.
std::wstring MessageOf(const std::wstring& line);

}  // namespace LogTest
