#pragma once
// What the administrator set by Group Policy for this tool, under
// HKLM\SOFTWARE\Policies\K-Vantor\NX Upgrade (the 64-bit view, where policy
// tools write on a 64-bit system). Policy wins over the command line and over
// what is discovered on the machine. Every value is a REG_SZ; one of another
// type or of an unreasonable size is ignored with a warning, as if unset.
#include <string>

// Below HKEY_LOCAL_MACHINE.
extern const wchar_t kMachinePolicyKey[];

enum class PolicyProxyMode {
    Unset,         // no ProxyMode, or one that names no mode
    Direct,        // "direct": never a proxy
    AutoDetect,    // "auto_detect": automatic detection (WPAD)
    PacScript,     // "pac_script": the script at ProxyPacUrl
    FixedServers,  // "fixed_servers": ProxyServer, with ProxyBypassList
    System,        // "system": what the machine and its user have configured
};

struct MachinePolicy {
    std::wstring installerSource;     // InstallerSource: a file, UNC path or http(s) URL of the installer
    std::wstring installerArguments;  // InstallerArguments: the installer's command-line arguments
    PolicyProxyMode proxyMode = PolicyProxyMode::Unset;  // ProxyMode
    std::wstring proxyServer;         // ProxyServer
    std::wstring proxyPacUrl;         // ProxyPacUrl
    std::wstring proxyBypassList;     // ProxyBypassList
};

// Reads the policy key once; a missing key is an empty policy. Each value in
// effect is logged.
MachinePolicy ReadMachinePolicy();

// The setting in effect where both the policy and the command line may give
// one (InstallerSource and --source, InstallerArguments and --installer-args):
// the policy's when it is set, and then the log says that it overrides the
// option's value, if one was given; else the option's.
std::wstring PolicyOverOption(const wchar_t* valueName, const std::wstring& policyValue, const wchar_t* optionName,
                              const std::wstring& optionValue);

// The mode a ProxyMode text names (case-insensitive); Unset for any other text.
PolicyProxyMode ParsePolicyProxyMode(const std::wstring& text);
