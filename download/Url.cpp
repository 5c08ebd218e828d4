#include "download/Url.h"

#include "log/KvQmtLog.h"

namespace QmtDownload {

Url::Url(const wchar_t* text) : text_(text ? text : L"") {
    const wchar_t* const kFunction = L"QmtDownload::Url::Url";
    isHttps_ = ::_wcsnicmp(text_.c_str(), L"https", 5) == 0;

    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host_;
    parts.dwHostNameLength = kHostCapacity;
    parts.lpszUrlPath = path_;
    parts.dwUrlPathLength = kPathCapacity;
    if (!text_.empty() && ::InternetCrackUrlW(text_.c_str(), 0, ICU_ESCAPE, &parts)) {
        port_ = parts.nPort;
        // Only HTTP and HTTPS URLs with a host can be fetched; anything else
        // (file:, ftp:, a bare path) counts as unparsable.
        const bool web = parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
        valid_ = web && host_[0] != L'\0';
    }
    if (valid_) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogDebug, L"%s: Host '%s' port %lu url '%s', ssl: %s",
                                 kFunction, host_, static_cast<unsigned long>(port_), path_,
                                 isHttps_ ? L"true" : L"false");
    } else {
        host_[0] = L'\0';
        path_[0] = L'\0';
        KvQmtLogging::LogMessage(KvQmtLogging::LogWarning, L"%s: InternetCrackUrl failed for '%s'",
                                 kFunction, text_.c_str());
    }
}

bool IsHttpUrl(const std::wstring& text) {
    return _wcsnicmp(text.c_str(), L"http://", 7) == 0 || _wcsnicmp(text.c_str(), L"https://", 8) == 0;
}

}  // namespace QmtDownload
