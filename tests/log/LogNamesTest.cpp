#include <gtest/gtest.h>

#include "log/LogFormat.h"
#include "log/LogNames.h"

using namespace KvQmtLogging;

TEST(LogRotatedName, NumberStandsBeforeTheLastExtension) {
    struct Case {
        const wchar_t* path;
        unsigned i;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\logs\\X.log", 0, L"C:\\logs\\X.log"},
        {L"C:\\logs\\X.log", 1, L"C:\\logs\\X.1.log"},
        {L"C:\\logs\\X.log", 99, L"C:\\logs\\X.99.log"},
        {L"C:\\logs\\X.log", 100, L"C:\\logs\\X.100.log"},
        {L"C:\\logs\\a.b.log", 2, L"C:\\logs\\a.b.2.log"},
        {L"C:\\logs\\noext", 2, L"C:\\logs\\noext.2"},
        // A leading dot is no extension.
        {L".hidden", 3, L".hidden.3"},
        // The last dot of the whole path counts, even in a folder name.
        {L"C:\\my.logs\\X", 1, L"C:\\my.1.logs\\X"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, RotatedName(c.path, c.i)) << c.path << " " << c.i;
}

TEST(LogMutexName, BackslashesOfThePathBecomeUnderscores) {
    EXPECT_EQ(L"Global\\KvQmtLogging_C:_ProgramData_K-Vantor_logs_OvSA_dc_upgrade_tool.log",
              MakeLogMutexName(L"C:\\ProgramData\\K-Vantor\\logs\\OvSA\\dc_upgrade_tool.log"));
}

TEST(LogMutexName, NamespacePrefixKeepsItsBackslash) {
    std::wstring global = L"Global\\a\\b";
    std::wstring local = L"Local\\a\\b";
    std::wstring plain = L"\\a\\b";
    SanitizeObjectName(global);
    SanitizeObjectName(local);
    SanitizeObjectName(plain);
    EXPECT_EQ(L"Global\\a_b", global);
    EXPECT_EQ(L"Local\\a_b", local);
    EXPECT_EQ(L"_a_b", plain);
}

TEST(LogLevelTag, EachLevelHasItsTwoCharacters) {
    EXPECT_STREQ(L"*F", LevelTag(1));
    EXPECT_STREQ(L"*E", LevelTag(2));
    EXPECT_STREQ(L".W", LevelTag(3));
    EXPECT_STREQ(L" I", LevelTag(4));
    EXPECT_STREQ(L" D", LevelTag(5));
    EXPECT_STREQ(L" V", LevelTag(6));
    EXPECT_STREQ(L"  ", LevelTag(0));
    EXPECT_STREQ(L"  ", LevelTag(7));
    EXPECT_STREQ(L"  ", LevelTag(-1));
}

TEST(LogLinePrefix, LongestIdsStillFitWhole) {
    SYSTEMTIME time = {2013, 5, 2, 14, 9, 31, 7, 42};
    wchar_t prefix[kMaxLinePrefixChars + 1];
    EXPECT_EQ(48u, FormatLinePrefix(time, 0xFFFFFFFF, 0xFFFFFFFF, 2, prefix));
    EXPECT_STREQ(L"2013-05-14 09:31:07.042 [ffffffff.ffffffff] *E: ", prefix);
    EXPECT_EQ(40u, FormatLinePrefix(time, 0xa3c, 0xb10, 4, prefix));
    EXPECT_STREQ(L"2013-05-14 09:31:07.042 [0a3c.0b10]  I: ", prefix);
}

namespace {
TIME_ZONE_INFORMATION Zone(LONG bias, LONG standardBias, LONG daylightBias) {
    TIME_ZONE_INFORMATION zone = {};
    zone.Bias = bias;
    zone.StandardBias = standardBias;
    zone.DaylightBias = daylightBias;
    return zone;
}
}  // namespace

TEST(LogStartMarker, UtcOffsetFromTheZoneBiases) {
    // Kathmandu, Newfoundland in winter, UTC, Central Europe in summer.
    EXPECT_EQ(L"+5:45", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_UNKNOWN, Zone(-345, 0, 0))));
    EXPECT_EQ(L"-3:30", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_STANDARD, Zone(210, 0, -60))));
    EXPECT_EQ(L"+0:00", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_UNKNOWN, Zone(0, 0, 0))));
    EXPECT_EQ(L"+2:00", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_DAYLIGHT, Zone(-60, 0, -60))));
    EXPECT_EQ(L"-2:30", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_DAYLIGHT, Zone(210, 0, -60))));
    // Standard bias counts only in standard time.
    EXPECT_EQ(L"-5:00", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_STANDARD, Zone(240, 60, 0))));
    EXPECT_EQ(L"-4:00", FormatUtcOffset(UtcOffsetMinutes(TIME_ZONE_ID_UNKNOWN, Zone(240, 60, 0))));
}

TEST(LogStartMarker, OffsetUnderAnHourWestKeepsItsSign) {
    EXPECT_EQ(L"-0:30", FormatUtcOffset(-30));
    EXPECT_EQ(L"+0:30", FormatUtcOffset(30));
    EXPECT_EQ(L"+14:00", FormatUtcOffset(840));
    EXPECT_EQ(L"-12:00", FormatUtcOffset(-720));
}

TEST(LogStartMarker, MarkerNamesSessionAndUnknownZone) {
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+5:45, session: 0x1)", StartMarkerText(true, 345, 1));
    EXPECT_EQ(L"***  LOGGING STARTED  *** (UTC+??:??, session: 0xdeadbeef)", StartMarkerText(false, 0, 0xDEADBEEF));
}
