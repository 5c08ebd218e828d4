#include "download/DownloadPolicy.h"

#include "download/DownloadResult.h"

namespace QmtDownload {

bool IsRetryable(DWORD result, DWORD retries, bool usingProxy, bool proxySet) {
    if (retries >= kMaxRetries) return false;
    switch (result) {
        case HttpRetryableError:
        case NetworkTimeout:
        case NetworkReset:
            return true;
        case HttpForbidden:
        case NetworkError:
            return usingProxy && proxySet;
        default:
            return false;
    }
}

bool NextUseProxy(bool useProxy, bool proxySet, DWORD bytesReceived) {
    if (bytesReceived != 0 || !proxySet) return useProxy;
    return !useProxy;
}

}  // namespace QmtDownload
