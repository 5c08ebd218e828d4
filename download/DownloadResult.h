#pragma once
// Result codes of a download, their names, and how Win32, WinINet and HTTP
// failures map onto them.
#include <windows.h>

namespace QmtDownload {

enum DownloadResult : DWORD {
    Success = 0,
    UnknownError = 1,
    InvalidUrl = 2,
    FileAccess = 3,
    DiskFull = 4,
    HttpForbidden = 5,
    HttpNotFound = 6,
    HttpRetryableError = 7,
    HttpPermanentError = 8,
    NetworkTimeout = 9,
    NetworkReset = 10,
    NetworkInvalidCertificate = 11,
    NetworkError = 12,
    Cancelled = 13,
};

// The name of a result code; "UnknownError" for codes it does not know.
const wchar_t* ResultName(DWORD result);

// The result for a Win32 or WinINet error code (0 maps to Success).
DownloadResult ResultFromWin32Error(DWORD error);

// The result for an HTTP status code: 200 and 206 are Success.
DownloadResult ResultFromHttpStatus(DWORD status);

}  // namespace QmtDownload
