#include "hosts/HostsPath.h"

#include <windows.h>

#include <cstdlib>

#include "common/RegistryString.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

namespace {

const wchar_t kParametersKey[] = L"System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const wchar_t kDatabasePathValue[] = L"DataBasePath";
const DWORD kPathUnits = 260;

// The value as text, or false with the reason logged.
bool QueryDatabasePath(HKEY key, std::wstring& text) {
    // Logs under the name of its caller, HostsPath::filePathFromRegistry.
    const wchar_t* const kFunction = L"HostsPath::filePathFromRegistry";
    const kv::RegistryStringRead read = kv::ReadRegistryString(
        key, kDatabasePathValue, kv::RegistryStringTypes::PlainOrExpandable, kPathUnits * sizeof(wchar_t), text);
    const LONG error = read.error;
    const DWORD type = read.type;
    if (read.outcome != kv::RegistryStringRead::Read && read.outcome != kv::RegistryStringRead::WrongType) {
        LogMessage(KvQmtLogging::LogError, L"%s: RegQueryValueEx failed, error %ld", kFunction, error);
        return false;
    }
    if (!read) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s has type %lu, not a string", kFunction, kDatabasePathValue, type);
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: RegQueryValueEx succeed", kFunction);
    return true;
}

bool Expand(const std::wstring& text, std::wstring& expanded) {
    // Logs under the name of its caller, HostsPath::filePathFromRegistry.
    const wchar_t* const kFunction = L"HostsPath::filePathFromRegistry";
    wchar_t buffer[kPathUnits] = {};
    const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer, kPathUnits);
    if (needed == 0) {
        LogMessage(KvQmtLogging::LogError, L"%s: ExpandEnvironmentStrings failed, error %lu", kFunction,
                   ::GetLastError());
        return false;
    }
    if (needed > kPathUnits) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s expands to %lu characters, more than %lu", kFunction,
                   kDatabasePathValue, needed, kPathUnits);
        return false;
    }
    // An empty folder would put the hosts file at the root of the current drive.
    if (buffer[0] == L'\0') {
        LogMessage(KvQmtLogging::LogError, L"%s: %s is empty", kFunction, kDatabasePathValue);
        return false;
    }
    expanded = buffer;
    return true;
}

}  // namespace

HostsPath::HostsPath() {
    if (!filePathFromRegistry(directory_)) defaultFilePath(directory_);
}

bool HostsPath::filePathFromRegistry(std::wstring& directory) {
    const wchar_t* const kFunction = L"HostsPath::filePathFromRegistry";
    std::wstring text;
    bool found = false;
    kv::unique_hkey key;
    if (::RegOpenKeyW(HKEY_LOCAL_MACHINE, kParametersKey, key.put()) == ERROR_SUCCESS) {
        LogMessage(KvQmtLogging::LogDebug, L"%s: Opened registry key %s", kFunction, kParametersKey);
        found = QueryDatabasePath(key.get(), text);
        key.reset();
    }
    std::wstring expanded;
    if (found && Expand(text, expanded)) {
        directory = expanded;
        return true;
    }
    LogMessage(KvQmtLogging::LogError, L"%s: Failed to get hosts file path from registry!", kFunction);
    return false;
}

void HostsPath::defaultFilePath(std::wstring& directory) {
    const wchar_t* const kFunction = L"HostsPath::defaultFilePath";
    const wchar_t* systemRoot = ::_wgetenv(L"SystemRoot");
    if (systemRoot) {
        const std::wstring copy(systemRoot);
        directory = copy + L"\\system32\\drivers\\etc\\";
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Returned %s", kFunction, directory.c_str());
}
