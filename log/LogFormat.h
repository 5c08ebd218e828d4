#pragma once
#include <windows.h>

#include <string>

namespace KvQmtLogging {

// Every log file, the main one and a run's copy, begins with it: UTF-16LE.
inline constexpr BYTE kByteOrderMark[2] = {0xFF, 0xFE};

// The two characters that stand for a level in a line ("*E", " I", ...).
const wchar_t* LevelTag(int level);

// Longest line prefix: "2013-05-14 09:31:07.042 [ffffffff.ffffffff] *E: ".
const size_t kMaxLinePrefixChars = 48;

// Writes "YYYY-MM-DD hh:mm:ss.mmm [pid.tid] TG: " and gives its length.
size_t FormatLinePrefix(const SYSTEMTIME& time, DWORD processId, DWORD threadId, int level,
                        wchar_t (&prefix)[kMaxLinePrefixChars + 1]);

// Minutes east of UTC for a GetTimeZoneInformation result.
int UtcOffsetMinutes(DWORD zoneResult, const TIME_ZONE_INFORMATION& zone);

// "+5:45", "-3:30", "+0:00", "-0:30".
std::wstring FormatUtcOffset(int offsetMinutes);

// The text of the start marker; zoneKnown false when the zone could not be read.
std::wstring StartMarkerText(bool zoneKnown, int offsetMinutes, DWORD sessionId);

}  // namespace KvQmtLogging
