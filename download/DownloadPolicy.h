#pragma once
// The retry and proxy rules of a download, as pure decisions.
#include <windows.h>

namespace QmtDownload {

constexpr DWORD kMaxRetries = 3;

// Whether a transient failure is tried again on the same way.
bool IsRetryable(DWORD result, DWORD retries);

// Why a failed attempt moves on to the next way, or None when it does not
// (the origin's answer stands, or bytes already came this way).
enum class MoveOnReason { None, CannotConnect, ProxyAuthentication, ProxyRefused };
MoveOnReason WhyMoveOn(DWORD result, DWORD httpStatus, bool viaProxy, DWORD bytesReceived);
const wchar_t* MoveOnText(MoveOnReason reason);

}  // namespace QmtDownload
