#pragma once
// Checks one line of the download summary log: its level tag and the text
// after the line prefix, as a regular expression.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/download/DownloadHarness.h"

namespace DownloadTesting {

// The one summary line that names this text, matched against the pattern.
inline ::testing::AssertionResult OneSummaryLine(const std::wstring& containing, const wchar_t* levelTag,
                                                 const std::wstring& pattern) {
    const std::vector<std::wstring> lines = SummaryLines(containing);
    if (lines.size() != 1) {
        return ::testing::AssertionFailure() << lines.size() << " summary lines name the download";
    }
    const std::wstring marker = std::wstring(L"] ") + levelTag + L": ";
    const size_t at = lines[0].find(marker);
    if (at == std::wstring::npos) {
        return ::testing::AssertionFailure() << "wrong level in: " << ::testing::PrintToString(lines[0]);
    }
    const std::wstring text = lines[0].substr(at + marker.size());
    if (!std::regex_match(text, std::wregex(pattern))) {
        return ::testing::AssertionFailure() << "summary " << ::testing::PrintToString(text)
                                             << " does not match " << ::testing::PrintToString(pattern);
    }
    return ::testing::AssertionSuccess();
}

// Escapes a literal (a URL, a path) for use inside a pattern.
inline std::wstring Literal(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (wcschr(L"\\^$.|?*+()[]{}", c)) escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace DownloadTesting
