#include "tests/log/LogTestSupport.h"

#include <cwctype>

namespace LogTest {

std::wstring SettingsKey(const std::wstring& component, const std::wstring& logName) {
    std::wstring key = L"SOFTWARE\\K-Vantor\\QMT\\Logging";
    if (!component.empty()) key += L"\\" + component;
    if (!logName.empty()) key += L"\\" + logName;
    return key;
}

std::wstring UniqueName(const std::wstring& base) {
    static LONG counter = 0;
    return base + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(InterlockedIncrement(&counter));
}

namespace {
bool DigitsAt(const std::wstring& s, size_t at, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (at + i >= s.size() || !iswdigit(s[at + i])) return false;
    }
    return true;
}
bool HexAt(const std::wstring& s, size_t at, size_t& end) {
    size_t i = at;
    while (i < s.size() && iswxdigit(s[i]) && !iswupper(s[i])) ++i;
    end = i;
    return i - at >= 4 && i - at <= 8;
}
}  // namespace

bool IsWellFormedLine(const std::wstring& line) {
    // 2013-05-14 09:31:07.042 [0a3c.0b10] " I: message\r\n"
    if (line.size() < 40) return false;
    if (!DigitsAt(line, 0, 4) || line[4] != L'-' || !DigitsAt(line, 5, 2) || line[7] != L'-' || !DigitsAt(line, 8, 2) ||
        line[10] != L' ' || !DigitsAt(line, 11, 2) || line[13] != L':' || !DigitsAt(line, 14, 2) ||
        line[16] != L':' || !DigitsAt(line, 17, 2) || line[19] != L'.' || !DigitsAt(line, 20, 3) ||
        line[23] != L' ' || line[24] != L'[') {
        return false;
    }
    size_t end = 0;
    if (!HexAt(line, 25, end) || line[end] != L'.') return false;
    if (!HexAt(line, end + 1, end) || line.compare(end, 2, L"] ") != 0) return false;
    static const wchar_t* const kTags[] = {L"*F", L"*E", L".W", L" I", L" D", L" V", L"  "};
    bool tagOk = false;
    for (const wchar_t* tag : kTags) tagOk = tagOk || line.compare(end + 2, 2, tag) == 0;
    if (!tagOk || line.compare(end + 4, 2, L": ") != 0) return false;
    if (line.size() < 2 || line.compare(line.size() - 2, 2, L"\r\n") != 0) return false;
    return line.find(L'\r') == line.size() - 2 && line.find(L'\n') == line.size() - 1;
}

std::wstring MessageOf(const std::wstring& line) {
    const size_t bracket = line.find(L"] ");
    if (bracket == std::wstring::npos || line.size() < bracket + 8) return std::wstring();
    return line.substr(bracket + 6, line.size() - (bracket + 6) - 2);
}

}  // namespace LogTest
