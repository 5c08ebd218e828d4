#include "download/DownloadPolicy.h"

#include "download/DownloadResult.h"

namespace QmtDownload {

bool IsRetryable(DWORD result, DWORD retries) {
    if (retries >= kMaxRetries) return false;
    return result == HttpRetryableError || result == NetworkTimeout || result == NetworkReset;
}

MoveOnReason WhyMoveOn(DWORD result, DWORD httpStatus, bool viaProxy, DWORD bytesReceived) {
    // A download under way stays on the way that carries it.
    if (bytesReceived != 0) return MoveOnReason::None;
    if (result == NetworkError) return MoveOnReason::CannotConnect;
    if (!viaProxy) return MoveOnReason::None;
    if (httpStatus == 407) return MoveOnReason::ProxyAuthentication;
    // Over a proxy these are the proxy's own answers: it will not, or cannot,
    // carry the request.
    if (httpStatus == 403 || httpStatus == 502 || result == NetworkReset) return MoveOnReason::ProxyRefused;
    return MoveOnReason::None;
}

const wchar_t* MoveOnText(MoveOnReason reason) {
    switch (reason) {
        case MoveOnReason::CannotConnect: return L"cannot connect";
        case MoveOnReason::ProxyAuthentication: return L"the proxy requires authentication";
        case MoveOnReason::ProxyRefused: return L"the proxy refused the request";
        case MoveOnReason::None: break;
    }
    return L"";
}

}  // namespace QmtDownload
