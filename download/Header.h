#pragma once
// The response headers of one HTTP answer that decide whether a local copy is
// current, partial or stale.
#include <windows.h>
#include <wininet.h>

namespace QmtDownload {

// What a Content-Length text says. Sizes are 32-bit: 0xFFFFFFFF means "none",
// so a length of 4 GiB - 1 or more cannot be stored and is flagged instead.
struct ContentLengthValue {
    enum Kind { Absent, Valid, Malformed, TooLarge } kind = Absent;
    DWORD value = 0xFFFFFFFF;
};
ContentLengthValue ParseContentLength(const wchar_t* text);

// The first byte of a "bytes first-last/total" Content-Range text, and the
// total when the server gave one.
struct ContentRangeValue {
    bool valid = false;
    ULONGLONG first = 0;
    ULONGLONG last = 0;
    bool hasTotal = false;
    ULONGLONG total = 0;
};
ContentRangeValue ParseContentRange(const wchar_t* text);

// What a 206 answer means for a local file of `local` bytes whose full size
// is `expected` (0xFFFFFFFF: none): Continue appends the body; Elsewhere (a
// range that starts at another byte or belongs to another size) empties the
// file for a whole fetch; Refused is an answer no honest server gives: a
// range nobody asked for, or one whose length disagrees with Content-Length.
enum class PartialVerdict { Continue, Elsewhere, Refused };
PartialVerdict CheckPartialAnswer(bool rangeSent, DWORD local, DWORD expected, const ContentRangeValue& range,
                                  DWORD contentLength);

class Header {
public:
    static constexpr DWORD kNoLength = 0xFFFFFFFF;
    static constexpr size_t kLastModifiedCapacity = 64;
    static constexpr size_t kStatusTextCapacity = 128;

    // Reads the headers of a request whose response has arrived.
    explicit Header(HINTERNET request);

    void LogHeader() const;
    bool IsSuccess() const { return status_ == 200 || status_ == 206; }
    DWORD MapHttpStatus() const;

    DWORD status() const { return status_; }
    const wchar_t* statusText() const { return statusText_; }
    DWORD contentLength() const { return contentLength_; }
    bool contentLengthTooLarge() const { return contentLengthTooLarge_; }
    bool contentLengthMalformed() const { return contentLengthMalformed_; }
    bool hasLastModified() const { return hasLastModified_; }
    const SYSTEMTIME& lastModified() const { return lastModified_; }
    const wchar_t* lastModifiedText() const { return lastModifiedText_; }
    const ContentRangeValue& contentRange() const { return contentRange_; }

private:
    void ReadStatus(HINTERNET request);
    void ReadContentLength(HINTERNET request);
    void ReadLastModified(HINTERNET request);
    void ReadContentRange(HINTERNET request);

    bool hasLastModified_ = true;
    DWORD contentLength_ = kNoLength;
    bool contentLengthTooLarge_ = false;
    bool contentLengthMalformed_ = false;
    SYSTEMTIME lastModified_ = {};
    wchar_t lastModifiedText_[kLastModifiedCapacity] = {};
    wchar_t statusText_[kStatusTextCapacity] = {};
    DWORD status_ = 0;
    ContentRangeValue contentRange_;
};

}  // namespace QmtDownload
