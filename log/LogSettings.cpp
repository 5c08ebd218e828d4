#include "log/LogSettings.h"

#include <cwchar>

#include "common/RegistryString.h"
#include "common/RegistryView.h"
#include "common/UniqueHandle.h"

namespace KvQmtLogging {

const wchar_t kLoggingSettingsKey[] = L"SOFTWARE\\K-Vantor\\QMT\\Logging";

namespace {

const int kAbsent = -1;
const wchar_t kShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool IsAbsolutePath(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    const bool unc = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
    return drive || unc;
}

int ReadDwordSetting(const std::wstring& keyName, const wchar_t* valueName, int defaultValue,
                     std::vector<IgnoredSetting>* ignored) {
    kv::unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_QUERY_VALUE | kv::kProductRegistryView, key.put()) != ERROR_SUCCESS) {
        return defaultValue;
    }
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LONG status = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_FILE_NOT_FOUND) return defaultValue;
    // Only a whole DWORD is a setting: a string "5" read as four bytes would
    // be the level 53.
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) {
        if (ignored) ignored->push_back({keyName, valueName, type, size});
        return defaultValue;
    }
    return static_cast<int>(data);
}

}  // namespace

int ReadLogSetting(const wchar_t* component, const wchar_t* logName, const wchar_t* valueName, int defaultValue,
                   std::vector<IgnoredSetting>* ignored) {
    const std::wstring root(kLoggingSettingsKey);
    if (component && *component) {
        const std::wstring componentKey = root + L"\\" + component;
        if (logName && *logName) {
            const int value = ReadDwordSetting(componentKey + L"\\" + logName, valueName, kAbsent, ignored);
            if (value != kAbsent) return value;
        }
        const int value = ReadDwordSetting(componentKey, valueName, kAbsent, ignored);
        if (value != kAbsent) return value;
    }
    return ReadDwordSetting(root, valueName, defaultValue, ignored);
}

bool ComposeLogPath(const std::wstring& commonAppData, const wchar_t* component, const wchar_t* logName,
                    std::wstring& path) {
    if (commonAppData.empty() || !logName) return false;
    std::wstring composed = commonAppData;
    composed += L"\\K-Vantor\\logs\\";
    composed += (component ? component : L"misc");
    composed += L"\\";
    composed += logName;
    composed += L".log";
    if (composed.size() + 1 > kMaxLogPathChars) return false;
    path = composed;
    return true;
}

bool BuildLogPath(const wchar_t* component, const wchar_t* logName, std::wstring& path) {
    kv::unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFoldersKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring commonAppData;
    const kv::RegistryStringRead read =
        kv::ReadRegistryString(key.get(), L"Common AppData", kv::RegistryStringTypes::PlainOrExpandable,
                               kMaxLogPathChars * sizeof(wchar_t), commonAppData);
    if (!read) return false;
    if (read.type == REG_EXPAND_SZ) {
        wchar_t expanded[kMaxLogPathChars] = {};
        const DWORD needed = ExpandEnvironmentStringsW(commonAppData.c_str(), expanded, kMaxLogPathChars);
        if (needed == 0 || needed > kMaxLogPathChars) return false;
        commonAppData = expanded;
    }
    // A relative folder (an unknown variable, say) would put the log under
    // whatever folder the process was started from.
    if (!IsAbsolutePath(commonAppData)) return false;
    return ComposeLogPath(commonAppData, component, logName, path);
}

}  // namespace KvQmtLogging
