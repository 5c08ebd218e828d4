#pragma once
// How a download reports to its caller.
#include <windows.h>

namespace QmtDownload {

enum DownloadCallbackKind : DWORD {
    // first: bytes now in the local file; second: expected full size (0xFFFFFFFF: none yet).
    DownloadProgress = 0,
    // Exactly once per start. first: the DownloadResult; second: DownloadCompletionFlags.
    DownloadFinished = 1,
};

enum DownloadCompletionFlags : DWORD {
    DownloadUpToDate = 1,       // the local copy was current; nothing was transferred
    DownloadProxyDisabled = 2,  // earlier ways failed and are skipped by later downloads
};

// May run on a WinINet worker thread, or on the caller's thread before Start returns.
using DownloadCallback = void (*)(void* context, DWORD kind, DWORD first, DWORD second);

}  // namespace QmtDownload
