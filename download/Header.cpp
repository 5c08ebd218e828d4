#include "download/Header.h"

#include "download/DownloadResult.h"
#include "download/Win32ErrorText.h"
#include "log/KvQmtLog.h"

namespace QmtDownload {

namespace {

const wchar_t* SkipBlanks(const wchar_t* p) {
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

// Reads decimal digits into a value capped just above 32 bits, so that an
// absurdly long number cannot wrap around into a small one.
const wchar_t* ReadNumber(const wchar_t* p, ULONGLONG& value, bool& any) {
    constexpr ULONGLONG kCap = 0x1FFFFFFFFull;
    value = 0;
    any = false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        any = true;
        value = value * 10 + static_cast<ULONGLONG>(*p - L'0');
        if (value > kCap) value = kCap;
    }
    return p;
}

}  // namespace

ContentLengthValue ParseContentLength(const wchar_t* text) {
    ContentLengthValue result;
    if (text == nullptr) return result;
    ULONGLONG value = 0;
    bool any = false;
    const wchar_t* end = SkipBlanks(ReadNumber(SkipBlanks(text), value, any));
    if (!any || *end != L'\0') {
        result.kind = ContentLengthValue::Malformed;
    } else if (value >= Header::kNoLength) {
        result.kind = ContentLengthValue::TooLarge;
    } else {
        result.kind = ContentLengthValue::Valid;
        result.value = static_cast<DWORD>(value);
    }
    return result;
}

ContentRangeValue ParseContentRange(const wchar_t* text) {
    ContentRangeValue result;
    if (text == nullptr) return result;
    const wchar_t* p = SkipBlanks(text);
    if (::_wcsnicmp(p, L"bytes", 5) != 0) return result;
    p = SkipBlanks(p + 5);
    ULONGLONG first = 0;
    ULONGLONG last = 0;
    bool any = false;
    p = ReadNumber(p, first, any);
    if (!any || *p != L'-') return result;
    p = ReadNumber(p + 1, last, any);
    if (!any || last < first || *p != L'/') return result;
    ++p;
    if (*p == L'*') {
        ++p;
    } else {
        p = ReadNumber(p, result.total, any);
        if (!any || result.total <= last) return result;
        result.hasTotal = true;
    }
    if (*SkipBlanks(p) != L'\0') return result;
    result.first = first;
    result.last = last;
    result.valid = true;
    return result;
}

PartialVerdict CheckPartialAnswer(bool rangeSent, DWORD local, DWORD expected, const ContentRangeValue& range,
                                  DWORD contentLength) {
    if (!rangeSent) return PartialVerdict::Refused;
    if (!range.valid || range.first != local) return PartialVerdict::Elsewhere;
    if (range.hasTotal && range.total >= Header::kNoLength) return PartialVerdict::Refused;
    if (range.hasTotal && expected != Header::kNoLength && range.total != expected) return PartialVerdict::Elsewhere;
    if (contentLength != Header::kNoLength && range.last - range.first + 1 != contentLength) {
        return PartialVerdict::Refused;
    }
    return PartialVerdict::Continue;
}

Header::Header(HINTERNET request) {
    ReadStatus(request);
    ReadContentLength(request);
    ReadLastModified(request);
    ReadContentRange(request);
}

void Header::ReadStatus(HINTERNET request) {
    // Logs under the name of its caller, QmtDownload::Header::Header.
    const wchar_t* const kFunction = L"QmtDownload::Header::Header";
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr)) {
        status_ = status;
    } else {
        KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: Failed to get status code from response: %s",
                                 kFunction, FormatWin32Error(::GetLastError()).c_str());
    }
    // A status text that does not fit stays empty.
    length = (kStatusTextCapacity - 1) * sizeof(wchar_t);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, statusText_, &length, nullptr)) statusText_[0] = L'\0';
    statusText_[kStatusTextCapacity - 1] = L'\0';
}

void Header::ReadContentLength(HINTERNET request) {
    // Logs under the name of its caller, QmtDownload::Header::Header.
    const wchar_t* const kFunction = L"QmtDownload::Header::Header";
    // Read as text, so that a length beyond 32 bits is seen instead of wrapping.
    wchar_t text[32] = {};
    DWORD length = (ARRAYSIZE(text) - 1) * sizeof(wchar_t);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
        // Absent, or longer than any 32-bit number could be written.
        if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER) contentLengthTooLarge_ = true;
        return;
    }
    const ContentLengthValue parsed = ParseContentLength(text);
    switch (parsed.kind) {
        case ContentLengthValue::Valid:
            contentLength_ = parsed.value;
            break;
        case ContentLengthValue::TooLarge:
            contentLengthTooLarge_ = true;
            break;
        case ContentLengthValue::Malformed:
            // Not taken as absent: a length that cannot be read could hide
            // where the body ends.
            contentLengthMalformed_ = true;
            KvQmtLogging::LogMessage(KvQmtLogging::LogWarning, L"%s: Malformed Content-Length '%s'", kFunction, text);
            break;
        case ContentLengthValue::Absent:
            break;
    }
    if (contentLengthTooLarge_) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: Content-Length '%s' is 4 GiB or more, not supported",
                                 kFunction, text);
    }
}

void Header::ReadLastModified(HINTERNET request) {
    DWORD length = sizeof(lastModified_);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &lastModified_, &length,
                          nullptr)) {
        lastModified_ = SYSTEMTIME{};
        hasLastModified_ = false;
    }
    // Sent back unchanged in If-Unmodified-Since; a text that does not fit
    // leaves the response without a usable Last-Modified.
    length = (kLastModifiedCapacity - 1) * sizeof(wchar_t);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED, lastModifiedText_, &length, nullptr)) {
        lastModifiedText_[0] = L'\0';
        hasLastModified_ = false;
    }
    lastModifiedText_[kLastModifiedCapacity - 1] = L'\0';
}

void Header::ReadContentRange(HINTERNET request) {
    wchar_t text[128] = {};
    DWORD length = (ARRAYSIZE(text) - 1) * sizeof(wchar_t);
    if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_RANGE, text, &length, nullptr)) {
        contentRange_ = ParseContentRange(text);
    }
}

DWORD Header::MapHttpStatus() const { return ResultFromHttpStatus(status_); }

void Header::LogHeader() const {
    const int level = IsSuccess() ? KvQmtLogging::LogDebug : KvQmtLogging::LogInfo;
    const wchar_t* const kFunction = L"QmtDownload::Header::LogHeader";
    KvQmtLogging::LogMessage(level, L"%s: > Status: %lu %s", kFunction, status_, statusText_);
    if (!KvQmtLogging::IsLogLevelEnabled(level)) return;
    if (hasLastModified_) {
        KvQmtLogging::LogMessage(level, L"%s: > Last-modified: %s (%04d-%02d-%02d %02d:%02d:%02d)", kFunction,
                                 lastModifiedText_, lastModified_.wYear, lastModified_.wMonth, lastModified_.wDay,
                                 lastModified_.wHour, lastModified_.wMinute, lastModified_.wSecond);
    }
    if (contentLength_ != kNoLength) {
        KvQmtLogging::LogMessage(level, L"%s: > Content-length: %lu", kFunction, contentLength_);
    }
}

}  // namespace QmtDownload
