#include "download/DownloadResult.h"

#include <wininet.h>

namespace QmtDownload {

namespace {

const wchar_t* const kResultNames[] = {
    L"Success",          L"UnknownError",       L"InvalidUrl",         L"FileAccess",
    L"DiskFull",         L"HttpForbidden",      L"HttpNotFound",       L"HttpRetryableError",
    L"HttpPermanentError", L"NetworkTimeout",   L"NetworkReset",       L"NetworkInvalidCertificate",
    L"NetworkError",     L"Cancelled",
};

constexpr DWORD kFirstInternetError = INTERNET_ERROR_BASE;  // 12000
constexpr DWORD kLastInternetError = 12174;

DownloadResult ResultFromInternetError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_URL:  // 12005
            return InvalidUrl;
        case ERROR_INTERNET_TIMEOUT:  // 12002
            return NetworkTimeout;
        case ERROR_INTERNET_CONNECTION_RESET:  // 12031
        case 12163:                            // ERROR_INTERNET_DISCONNECTED
        // A peer (a proxy, typically) that aborts the connection is a network
        // fault to retry or route around, not a cancellation: only the
        // engine's own cancel gives Cancelled.
        case 12030:  // ERROR_INTERNET_CONNECTION_ABORTED
            return NetworkReset;
        case 12037:  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
        case 12038:  // ERROR_INTERNET_SEC_CERT_CN_INVALID
        case 12045:  // ERROR_INTERNET_INVALID_CA
        case 12055:  // ERROR_INTERNET_SEC_CERT_ERRORS
        case 12056:  // ERROR_INTERNET_SEC_CERT_NO_REV
        case 12057:  // ERROR_INTERNET_SEC_CERT_REV_FAILED
        case 12157:  // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
        case 12169:  // ERROR_INTERNET_SEC_INVALID_CERT
        case 12170:  // ERROR_INTERNET_SEC_CERT_REVOKED
            return NetworkInvalidCertificate;
        case ERROR_INTERNET_OPERATION_CANCELLED:  // 12017
        case 12012:                               // ERROR_INTERNET_SHUTDOWN
            return Cancelled;
        default:
            return NetworkError;
    }
}

}  // namespace

const wchar_t* ResultName(DWORD result) {
    if (result >= sizeof(kResultNames) / sizeof(kResultNames[0])) return kResultNames[UnknownError];
    return kResultNames[result];
}

DownloadResult ResultFromWin32Error(DWORD error) {
    if (error == ERROR_SUCCESS) return Success;
    if (error >= kFirstInternetError && error <= kLastInternetError) return ResultFromInternetError(error);
    switch (error) {
        case ERROR_INVALID_HANDLE:
            return UnknownError;
        // Socket errors that some WinINet implementations pass on as they are.
        case 10060:  // WSAETIMEDOUT
            return NetworkTimeout;
        case 10053:  // WSAECONNABORTED
        case 10054:  // WSAECONNRESET
            return NetworkReset;
        case ERROR_DISK_FULL:
            return DiskFull;
        default:
            return FileAccess;
    }
}

DownloadResult ResultFromHttpStatus(DWORD status) {
    switch (status) {
        case 200:
        case 206:
            return Success;
        case 401:
        case 403:
            return HttpForbidden;
        case 404:
            return HttpNotFound;
        case 408:
        case 412:
        case 503:
        case 504:
            return HttpRetryableError;
        default:
            return HttpPermanentError;
    }
}

}  // namespace QmtDownload
