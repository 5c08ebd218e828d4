#pragma once
// One way of reaching the installer's server, and the rules that pick the
// next one when a way fails. A download walks an ordered list of them.
#include <windows.h>

#include <string>
#include <vector>

namespace QmtDownload {

// Where a way came from: it decides how far the way is trusted.
enum class RouteOrigin {
    Policy,         // the administrator's proxy policy
    UserAutomatic,  // the user's configuration script or automatic detection
    UserNamed,      // the user's named proxy (or its bypass list)
    MachineWinHttp, // the machine's WinHTTP setting
    Preconfigured,  // WinINet's preconfigured connection of this account
    Direct,         // no proxy
};

struct ProxyRoute {
    RouteOrigin origin = RouteOrigin::Direct;
    // A proxy list as WinINet takes it ("host:port", "http=a:1 https=b:2");
    // empty: no proxy (for Preconfigured: whatever WinINet is set to).
    std::wstring proxy;

    bool IsProxy() const { return !proxy.empty() && origin != RouteOrigin::Preconfigured; }
    // A user can point the settings of their own account at a listener of
    // theirs: such a proxy never gets this machine's credentials.
    bool MayUseMachineCredentials() const {
        return origin != RouteOrigin::UserAutomatic && origin != RouteOrigin::UserNamed;
    }
    bool operator==(const ProxyRoute& other) const;
};

using RouteList = std::vector<ProxyRoute>;

// "the user's proxy '127.0.0.1:8080'", "direct (by policy)", for the log.
std::wstring RouteName(const ProxyRoute& route);

// Drops each entry that repeats the way of the one before it, keeping the first.
RouteList DropConsecutiveDuplicates(const RouteList& routes);

// A proxy list as the platform hands it ("a:1;b:2", "http=a:1;https=b:2") in
// the form WinINet takes on every platform: entries apart by one space.
std::wstring WinInetProxyList(const std::wstring& list);

// Whether a bypass list ("<local>;*.corp.example;10.*") names the host.
bool BypassListMatches(const std::wstring& list, const std::wstring& host);

}  // namespace QmtDownload
