#pragma once
// The retry and proxy rules of a download, as pure decisions.
#include <windows.h>

namespace QmtDownload {

constexpr DWORD kMaxRetries = 3;

// Whether a failed request is tried again. A proxy that refuses or cannot be
// reached is retried (without it) only while the proxy is in use.
bool IsRetryable(DWORD result, DWORD retries, bool usingProxy, bool proxySet);

// Whether the next attempt goes through the proxy: attempts alternate between
// the proxy and the preconfigured connection only while nothing has been
// received in this download.
bool NextUseProxy(bool useProxy, bool proxySet, DWORD bytesReceived);

}  // namespace QmtDownload
