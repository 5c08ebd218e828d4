#include "stub/MachinePolicy.h"

#include <windows.h>

#include "common/RegistryString.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

const wchar_t kMachinePolicyKey[] = L"SOFTWARE\\Policies\\K-Vantor\\NX Upgrade";

namespace {

// Far above any path, URL, argument line or bypass list an administrator
// writes, far below what would cost anything to hold.
const DWORD kMaxPolicyChars = 8192;

struct ModeName {
    const wchar_t* text;
    PolicyProxyMode mode;
};
const ModeName kModeNames[] = {
    {L"direct", PolicyProxyMode::Direct},           {L"auto_detect", PolicyProxyMode::AutoDetect},
    {L"pac_script", PolicyProxyMode::PacScript},    {L"fixed_servers", PolicyProxyMode::FixedServers},
    {L"system", PolicyProxyMode::System},
};

// One REG_SZ value; anything else leaves the text empty.
std::wstring ReadPolicyText(HKEY key, const wchar_t* name) {
    const wchar_t* const kFunction = L"ReadMachinePolicy";
    std::wstring text;
    const kv::RegistryStringRead read =
        kv::ReadRegistryString(key, name, kv::RegistryStringTypes::Plain, kMaxPolicyChars * sizeof(wchar_t), text);
    if (read) {
        if (!text.empty()) LogMessage(LogInfo, L"%s: Policy %s = '%s'", kFunction, name, text.c_str());
        return text;
    }
    if (read.outcome == kv::RegistryStringRead::QueryFailed && read.error == ERROR_FILE_NOT_FOUND) return text;
    LogMessage(LogWarning, L"%s: Policy value '%s' ignored: type %lu, error %ld (a REG_SZ of at most %lu characters)",
               kFunction, name, read.type, read.error, kMaxPolicyChars);
    return std::wstring();
}

}  // namespace

std::wstring PolicyOverOption(const wchar_t* valueName, const std::wstring& policyValue, const wchar_t* optionName,
                              const std::wstring& optionValue) {
    const wchar_t* const kFunction = L"PolicyOverOption";
    if (policyValue.empty()) return optionValue;
    if (!optionValue.empty() && optionValue != policyValue) {
        LogMessage(LogInfo, L"%s: Policy %s '%s' overrides the command line's %s '%s'", kFunction, valueName,
                   policyValue.c_str(), optionName, optionValue.c_str());
    }
    return policyValue;
}

PolicyProxyMode ParsePolicyProxyMode(const std::wstring& text) {
    for (const ModeName& entry : kModeNames) {
        if (::lstrcmpiW(text.c_str(), entry.text) == 0) return entry.mode;
    }
    return PolicyProxyMode::Unset;
}

MachinePolicy ReadMachinePolicy() {
    const wchar_t* const kFunction = L"ReadMachinePolicy";
    MachinePolicy policy;
    kv::unique_hkey key;
    const LONG opened =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachinePolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
    if (opened != ERROR_SUCCESS) {
        if (opened != ERROR_FILE_NOT_FOUND) {
            LogMessage(LogWarning, L"%s: Cannot open 'HKLM\\%s': %ld; no policy applies", kFunction,
                       kMachinePolicyKey, opened);
        }
        return policy;
    }
    policy.installerSource = ReadPolicyText(key.get(), L"InstallerSource");
    policy.installerArguments = ReadPolicyText(key.get(), L"InstallerArguments");
    policy.proxyServer = ReadPolicyText(key.get(), L"ProxyServer");
    policy.proxyPacUrl = ReadPolicyText(key.get(), L"ProxyPacUrl");
    policy.proxyBypassList = ReadPolicyText(key.get(), L"ProxyBypassList");
    const std::wstring mode = ReadPolicyText(key.get(), L"ProxyMode");
    policy.proxyMode = ParsePolicyProxyMode(mode);
    if (!mode.empty() && policy.proxyMode == PolicyProxyMode::Unset) {
        LogMessage(LogWarning, L"%s: Policy ProxyMode '%s' names no mode; ignored", kFunction, mode.c_str());
    }
    return policy;
}
