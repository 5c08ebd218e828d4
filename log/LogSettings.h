#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace KvQmtLogging {

// HKLM key of the logging settings; a value may also stand in the subkey of
// the component and in the subkey of the log name beneath that.
extern const wchar_t kLoggingSettingsKey[];

// The log path is limited to this many characters, terminator included.
const size_t kMaxLogPathChars = 1040;

// A setting that was present but not a 4-byte REG_DWORD, and so not used.
struct IgnoredSetting {
    std::wstring key;
    std::wstring value;
    DWORD type;
    DWORD size;
};

// The most specific of the three keys that holds the value wins; a stored
// 0xFFFFFFFF in the two specific keys counts as absent.
int ReadLogSetting(const wchar_t* component, const wchar_t* logName, const wchar_t* valueName, int defaultValue,
                   std::vector<IgnoredSetting>* ignored = nullptr);

// <Common AppData>\K-Vantor\logs\<component or "misc">\<logName>.log, or false
// when the folder is unknown or the path would be too long.
bool BuildLogPath(const wchar_t* component, const wchar_t* logName, std::wstring& path);

// The same from a given folder (pure).
bool ComposeLogPath(const std::wstring& commonAppData, const wchar_t* component, const wchar_t* logName,
                    std::wstring& path);

}  // namespace KvQmtLogging
