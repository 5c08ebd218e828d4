#pragma once
// The order in which the installer download tries the ways it knows of: the
// policy's proxy setting if any, else the user's configuration script or
// detection result; then the user's named proxy, the machine's WinHTTP
// proxy, WinINet's preconfigured connection and direct, each only once in a
// row. A policy of "direct" allows nothing else.
#include <string>

#include "download/ProxyRoute.h"

namespace ProxyChain {

// A named proxy with the hosts it is not used for.
struct NamedProxy {
    std::wstring proxy;   // as stored: "host:port", "http=a:1;https=b:2"; empty: none
    std::wstring bypass;  // "<local>;*.corp.example"
};

struct Sources {
    bool policyDirect = false;
    // The policy sets the proxy: its ways (possibly none, when its script
    // did not answer) take the place of what the user's settings give.
    bool policySetsProxy = false;
    QmtDownload::RouteList policyAutomatic;
    NamedProxy policyNamed;
    QmtDownload::RouteList userAutomatic;
    NamedProxy userNamed;
    NamedProxy machineWinHttp;
};

QmtDownload::RouteList Build(const Sources& sources, const std::wstring& host);

// The host name of a URL, without user, port or path ("[::1]" for an IPv6 literal).
std::wstring UrlHost(const std::wstring& url);

}  // namespace ProxyChain
