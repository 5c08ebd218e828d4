// The download engine's pure decisions: result codes and their names, the
// error and status mappings, the retry and proxy rules, header parsing and
// the error text.
#include <gtest/gtest.h>

#include <cwchar>

#include "download/DownloadPolicy.h"
#include "download/DownloadResult.h"
#include "download/Header.h"
#include "download/Url.h"
#include "download/Win32ErrorText.h"

using namespace QmtDownload;

namespace {

TEST(DownloadResultTest, EveryCodeHasItsNameAndUnknownCodesReadAsUnknownError) {
    const wchar_t* names[] = {L"Success",          L"UnknownError",   L"InvalidUrl",   L"FileAccess",
                              L"DiskFull",         L"HttpForbidden",  L"HttpNotFound", L"HttpRetryableError",
                              L"HttpPermanentError", L"NetworkTimeout", L"NetworkReset",
                              L"NetworkInvalidCertificate", L"NetworkError", L"Cancelled"};
    for (DWORD code = 0; code < 14; ++code) EXPECT_STREQ(ResultName(code), names[code]) << code;
    EXPECT_STREQ(ResultName(14), L"UnknownError");
    EXPECT_STREQ(ResultName(0xFFFFFFFF), L"UnknownError");
}

TEST(DownloadResultTest, Win32AndInternetErrorsMapToTheirResults) {
    const struct {
        DWORD error;
        DownloadResult result;
    } table[] = {
        {0, Success},           {6, UnknownError},      {12005, InvalidUrl},    {5, FileAccess},
        {32, FileAccess},       {223, FileAccess},      {11999, FileAccess},    {12175, FileAccess},
        {112, DiskFull},        {12002, NetworkTimeout}, {12031, NetworkReset}, {12163, NetworkReset},
        {12037, NetworkInvalidCertificate}, {12038, NetworkInvalidCertificate}, {12045, NetworkInvalidCertificate},
        {12055, NetworkInvalidCertificate}, {12056, NetworkInvalidCertificate}, {12057, NetworkInvalidCertificate},
        {12157, NetworkInvalidCertificate}, {12169, NetworkInvalidCertificate}, {12170, NetworkInvalidCertificate},
        {12007, NetworkError},  {12023, NetworkError},  {12029, NetworkError},  {12164, NetworkError},
        {12000, NetworkError},  {12174, NetworkError},  {12152, NetworkError},  {12012, Cancelled},
        {12017, Cancelled},     {12030, NetworkReset},  {10060, NetworkTimeout}, {10054, NetworkReset},
        {10053, NetworkReset},  {10061, FileAccess},
    };
    for (const auto& row : table) EXPECT_EQ(ResultFromWin32Error(row.error), row.result) << row.error;
}

TEST(DownloadResultTest, HttpStatusesMapToTheirResults) {
    const struct {
        DWORD status;
        DownloadResult result;
    } table[] = {
        {200, Success},           {206, Success},           {401, HttpForbidden},      {403, HttpForbidden},
        {404, HttpNotFound},      {408, HttpRetryableError}, {412, HttpRetryableError}, {503, HttpRetryableError},
        {504, HttpRetryableError}, {0, HttpPermanentError}, {201, HttpPermanentError}, {304, HttpPermanentError},
        {416, HttpPermanentError}, {500, HttpPermanentError}, {502, HttpPermanentError},
    };
    for (const auto& row : table) EXPECT_EQ(ResultFromHttpStatus(row.status), row.result) << row.status;
}

TEST(DownloadPolicyTest, TransientFailuresAreRetriedAtMostThreeTimes) {
    for (DWORD result : {HttpRetryableError, NetworkTimeout, NetworkReset}) {
        for (DWORD retries = 0; retries < 3; ++retries) EXPECT_TRUE(IsRetryable(result, retries)) << result;
        EXPECT_FALSE(IsRetryable(result, 3)) << result;
    }
    for (DWORD result : {Success, UnknownError, InvalidUrl, FileAccess, DiskFull, HttpForbidden, HttpNotFound,
                         HttpPermanentError, NetworkInvalidCertificate, NetworkError, Cancelled}) {
        EXPECT_FALSE(IsRetryable(result, 0)) << result;
    }
}

TEST(DownloadPolicyTest, OnlyFailedConnectionsAndProxyRefusalsMoveToTheNextWay) {
    const struct {
        DWORD result;
        DWORD status;
        bool viaProxy;
        DWORD received;
        MoveOnReason reason;
    } table[] = {
        {NetworkError, 0, false, 0, MoveOnReason::CannotConnect},
        {NetworkError, 0, true, 0, MoveOnReason::CannotConnect},
        {HttpPermanentError, 407, true, 0, MoveOnReason::ProxyAuthentication},
        {HttpForbidden, 403, true, 0, MoveOnReason::ProxyRefused},
        {HttpPermanentError, 502, true, 0, MoveOnReason::ProxyRefused},
        {NetworkReset, 0, true, 0, MoveOnReason::ProxyRefused},
        // The origin's answers stand, through a proxy or not.
        {HttpNotFound, 404, true, 0, MoveOnReason::None},
        {HttpForbidden, 403, false, 0, MoveOnReason::None},
        {HttpRetryableError, 503, true, 0, MoveOnReason::None},
        {NetworkTimeout, 0, true, 0, MoveOnReason::None},
        // Bytes came this way: it stays.
        {NetworkError, 0, true, 500, MoveOnReason::None},
    };
    for (const auto& row : table) {
        EXPECT_EQ(WhyMoveOn(row.result, row.status, row.viaProxy, row.received), row.reason)
            << row.result << " " << row.status << " " << row.viaProxy << " " << row.received;
    }
}

TEST(HeaderParseTest, ContentLengthBeyond32BitsIsFlaggedInsteadOfWrapping) {
    const struct {
        const wchar_t* text;
        ContentLengthValue::Kind kind;
        DWORD value;
    } table[] = {
        {L"0", ContentLengthValue::Valid, 0},
        {L"1000", ContentLengthValue::Valid, 1000},
        {L" 42 ", ContentLengthValue::Valid, 42},
        {L"4294967294", ContentLengthValue::Valid, 4294967294u},
        {L"4294967295", ContentLengthValue::TooLarge, 0xFFFFFFFF},
        {L"4294967296", ContentLengthValue::TooLarge, 0xFFFFFFFF},
        {L"8589934593", ContentLengthValue::TooLarge, 0xFFFFFFFF},
        {L"184467440737095516170", ContentLengthValue::TooLarge, 0xFFFFFFFF},
        {L"", ContentLengthValue::Malformed, 0xFFFFFFFF},
        {L"-1", ContentLengthValue::Malformed, 0xFFFFFFFF},
        {L"12abc", ContentLengthValue::Malformed, 0xFFFFFFFF},
        {L"1 2", ContentLengthValue::Malformed, 0xFFFFFFFF},
    };
    for (const auto& row : table) {
        const ContentLengthValue parsed = ParseContentLength(row.text);
        EXPECT_EQ(parsed.kind, row.kind) << ::testing::PrintToString(std::wstring(row.text));
        EXPECT_EQ(parsed.value, row.value) << ::testing::PrintToString(std::wstring(row.text));
    }
}

TEST(HeaderParseTest, ContentRangeGivesItsFirstByteAndTotal) {
    ContentRangeValue range = ParseContentRange(L"bytes 500-999/1000");
    EXPECT_TRUE(range.valid);
    EXPECT_EQ(range.first, 500u);
    EXPECT_TRUE(range.hasTotal);
    EXPECT_EQ(range.total, 1000u);

    range = ParseContentRange(L"bytes 0-9/*");
    EXPECT_TRUE(range.valid);
    EXPECT_EQ(range.first, 0u);
    EXPECT_FALSE(range.hasTotal);

    for (const wchar_t* bad : {L"", L"bytes */1000", L"bytes 500-/1000", L"bytes 900-100/1000", L"items 0-1/2",
                               L"bytes 0-999/999", L"bytes 0-9/10 junk", L"bytes -5-9/10"}) {
        EXPECT_FALSE(ParseContentRange(bad).valid) << ::testing::PrintToString(std::wstring(bad));
    }
}

TEST(HeaderParseTest, PartialAnswerContinuesOnlyTheRangeAskedFor) {
    const DWORD none = Header::kNoLength;
    const struct {
        bool rangeSent;
        DWORD local, expected;
        const wchar_t* range;
        DWORD contentLength;
        PartialVerdict verdict;
    } table[] = {
        {true, 500, 1000, L"bytes 500-999/1000", 500, PartialVerdict::Continue},
        {true, 500, none, L"bytes 500-999/1000", none, PartialVerdict::Continue},
        {false, 0, none, L"bytes 0-99/1000", 100, PartialVerdict::Refused},
        {true, 500, 1000, L"bytes 500-999/1000", 100, PartialVerdict::Refused},
        {true, 500, none, L"bytes 500-999/4294967296", 500, PartialVerdict::Refused},
        {true, 500, 1000, L"bytes 400-999/1000", 600, PartialVerdict::Elsewhere},
        {true, 500, 1000, L"bytes 500-1999/2000", 1500, PartialVerdict::Elsewhere},
        {true, 500, 1000, L"", 500, PartialVerdict::Elsewhere},
    };
    for (const auto& row : table) {
        EXPECT_EQ(CheckPartialAnswer(row.rangeSent, row.local, row.expected, ParseContentRange(row.range),
                                     row.contentLength),
                  row.verdict)
            << ::testing::PrintToString(std::wstring(row.range)) << " sent " << row.rangeSent;
    }
}

TEST(UrlTest, HttpAndHttpsUrlsAreSplitAndOthersAreInvalid) {
    Url plain(L"http://127.0.0.1:8080/dir/file.exe?x=1");
    EXPECT_TRUE(plain.valid());
    EXPECT_FALSE(plain.isHttps());
    EXPECT_STREQ(plain.host(), L"127.0.0.1");
    EXPECT_EQ(plain.port(), 8080);
    EXPECT_STREQ(plain.path(), L"/dir/file.exe?x=1");

    Url secure(L"HTTPS://example.invalid/setup.exe");
    EXPECT_TRUE(secure.valid());
    EXPECT_TRUE(secure.isHttps());
    EXPECT_EQ(secure.port(), 443);

    for (const wchar_t* bad : {L"", L"no url at all", L"file:///C:/Windows/win.ini", L"ftp://host/file", L"http://"}) {
        EXPECT_FALSE(Url(bad).valid()) << ::testing::PrintToString(std::wstring(bad));
    }
    EXPECT_FALSE(Url(nullptr).valid());
    const std::wstring longPath = L"http://host/" + std::wstring(1100, L'a');
    EXPECT_FALSE(Url(longPath.c_str()).valid()) << "a path beyond 1024 characters does not fit";
}

TEST(Win32ErrorTextTest, KnownErrorsCarryTheSystemTextOnOneLine) {
    const Win32ErrorText text = FormatWin32Error(ERROR_ACCESS_DENIED);
    EXPECT_EQ(std::wcsncmp(text.c_str(), L"[5] ", 4), 0);
    EXPECT_GT(std::wcslen(text.c_str()), 5u);
    EXPECT_EQ(std::wcspbrk(text.c_str(), L"\r\n"), nullptr);
}

TEST(Win32ErrorTextTest, UnknownErrorsLeaveOnlyTheNumber) {
    EXPECT_STREQ(FormatWin32Error(0x2FFFFFFF).c_str(), L"[805306367] ");
}

TEST(Win32ErrorTextTest, FormattingKeepsTheLastError) {
    ::SetLastError(1234);
    FormatWin32Error(ERROR_ACCESS_DENIED);
    EXPECT_EQ(::GetLastError(), 1234u);
}

}  // namespace
