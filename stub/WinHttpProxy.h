#pragma once
// What WinHTTP knows about proxies: the answer of a configuration script or of
// automatic detection for one URL, and the machine's own WinHTTP setting.
// WinHTTP is loaded on first use, from the system folder only.
#include <windows.h>

#include <string>

#include "download/ProxyRoute.h"

namespace WinHttpProxy {

// How long a script or detection may take, download and evaluation together.
constexpr DWORD kResolveLimitMs = 10000;

// The ways automatic detection (when asked) or else the script at scriptUrl
// (when not empty) gives for url, in their order; empty when neither answers
// in time (each has limitMs). Only http and https scripts are fetched.
QmtDownload::RouteList Resolve(const std::wstring& url, const std::wstring& scriptUrl, bool autoDetect,
                               QmtDownload::RouteOrigin origin, DWORD limitMs = kResolveLimitMs);

// A resolver's answer ("a:1;b:2", "PROXY a:1; DIRECT") as ways, at most
// a few of them.
QmtDownload::RouteList RoutesFromAnswer(const std::wstring& answer, QmtDownload::RouteOrigin origin);

// The machine's WinHTTP proxy and its bypass list; false when none is set.
bool MachineDefault(std::wstring& proxy, std::wstring& bypass);

}  // namespace WinHttpProxy
