#pragma once
// A user's (or the machine's) whole proxy configuration as Internet Settings
// keep it: the binary DefaultConnectionSettings value under Connections, or,
// where that is missing, the older separate values.
#include <windows.h>

#include <string>

struct ConnectionSettings {
    // The flags of the binary value, also set from the older values.
    static constexpr DWORD kDirect = 0x1;
    static constexpr DWORD kNamedProxy = 0x2;
    static constexpr DWORD kScript = 0x4;
    static constexpr DWORD kAutoDetect = 0x8;

    DWORD flags = 0;
    std::wstring proxy;      // "host:port" or "http=a:1;https=b:2"
    std::wstring bypass;     // "<local>;*.corp.example"
    std::wstring scriptUrl;  // the configuration script's URL
    bool binary = false;     // read from the binary value, not the older ones

    bool UsesNamedProxy() const { return (flags & kNamedProxy) != 0 && !proxy.empty(); }
    bool UsesScript() const { return (flags & kScript) != 0 && !scriptUrl.empty(); }
    bool UsesAutoDetect() const { return (flags & kAutoDetect) != 0; }
};

// The binary value comes from a hive its user can write: every length in it
// is checked against the data's size. False (settings untouched) for a value
// that is short, of version 0, or whose lengths run past its end.
bool ParseConnectionSettings(const BYTE* data, size_t size, ConnectionSettings& settings);

// Reads the settings below root\settingsPath (the Internet Settings key):
// the binary value, else ProxyEnable/ProxyServer/ProxyOverride/AutoConfigURL.
// A malformed binary value is logged and the older values are read instead.
// False when the key cannot be opened.
bool ReadConnectionSettings(HKEY root, const std::wstring& settingsPath, ConnectionSettings& settings);

// Whether the administrator set the proxy per machine (ProxySettingsPerUser 0
// under the Internet Settings policies): then the machine's settings count.
bool ProxySettingsPerMachine();
