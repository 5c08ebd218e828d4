#include "log/LogFormat.h"

#include <cstdlib>
#include <cwchar>

namespace KvQmtLogging {

const wchar_t* LevelTag(int level) {
    switch (level) {
        case 1: return L"*F";
        case 2: return L"*E";
        case 3: return L".W";
        case 4: return L" I";
        case 5: return L" D";
        case 6: return L" V";
        default: return L"  ";
    }
}

size_t FormatLinePrefix(const SYSTEMTIME& time, DWORD processId, DWORD threadId, int level,
                        wchar_t (&prefix)[kMaxLinePrefixChars + 1]) {
    const int length = _snwprintf(prefix, kMaxLinePrefixChars, L"%04d-%02d-%02d %02d:%02d:%02d.%03d [%04lx.%04lx] %s: ",
                                  time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                                  time.wMilliseconds, processId, threadId, LevelTag(level));
    // Cannot overflow with the fields' ranges; cut safely all the same.
    const size_t used = (length < 0 || static_cast<size_t>(length) > kMaxLinePrefixChars)
                            ? kMaxLinePrefixChars
                            : static_cast<size_t>(length);
    prefix[used] = L'\0';
    return used;
}

int UtcOffsetMinutes(DWORD zoneResult, const TIME_ZONE_INFORMATION& zone) {
    LONG bias = zone.Bias;
    if (zoneResult == TIME_ZONE_ID_STANDARD) {
        bias += zone.StandardBias;
    } else if (zoneResult == TIME_ZONE_ID_DAYLIGHT) {
        bias += zone.DaylightBias;
    }
    return -static_cast<int>(bias);
}

std::wstring FormatUtcOffset(int offsetMinutes) {
    // The sign is taken from the whole offset, so that half an hour west of
    // UTC reads -0:30 and not +0:30.
    wchar_t text[16];
    _snwprintf(text, 16, L"%c%d:%02d", offsetMinutes < 0 ? L'-' : L'+', std::abs(offsetMinutes) / 60,
               std::abs(offsetMinutes) % 60);
    text[15] = L'\0';
    return text;
}

std::wstring StartMarkerText(bool zoneKnown, int offsetMinutes, DWORD sessionId) {
    const std::wstring offset = zoneKnown ? FormatUtcOffset(offsetMinutes) : std::wstring(L"+??:??");
    wchar_t text[96];
    _snwprintf(text, 96, L"***  LOGGING STARTED  *** (UTC%s, session: 0x%lx)", offset.c_str(), sessionId);
    text[95] = L'\0';
    return text;
}

}  // namespace KvQmtLogging
