#include <gtest/gtest.h>

#include "hosts/ContentAnalyzer.h"

namespace {

struct LineCase {
    const wchar_t* why;
    std::wstring line;
    bool corrupted;
};

const LineCase kLines[] = {
    {L"lower case letters match", L"127.0.0.1 k-vantor-update", true},
    {L"a tab before the address is examined", L"\t0.0.0.0 KVANTOR", true},
    {L"mixed case, the name in a longer host", L"10.0.0.1 update.KVantor.example", true},
    {L"inside a longer word", L"XKVANTORY", true},
    {L"the first pattern with a hyphen", L"0.0.0.0 K-Vantor", true},
    {L"the pattern before a trailing comment", L"0.0.0.0 kvantor # blocked", true},
    {L"a comment line is kept", L"#127.0.0.1 k-vantor", false},
    {L"the pattern after the marker is a comment", L"127.0.0.1 localhost # k-vantor", false},
    {L"blanks before the marker leave nothing to match", L"   #0.0.0.0 kvantor", false},
    {L"an empty line", L"", false},
    {L"an ordinary entry", L"127.0.0.1 localhost", false},
    {L"another separator is no match", L"0.0.0.0 k_vantor", false},
    {L"a broken name is no match", L"0.0.0.0 kvanto r", false},
    {L"bytes above 0x7F stay as they are", L"0.0.0.0 \x00ff" L"kvantor\x00e9", true},
    {L"accented letters are not folded", L"0.0.0.0 kv\x00e4ntor", false},
    {L"UTF-16 text read byte by byte has NULs between letters",
     std::wstring(L"k\0v\0a\0n\0t\0o\0r\0", 14), false},
    {L"a NUL inside the line does not end it", std::wstring(L"x\0 kvantor", 10), true},
};

TEST(ContentAnalyzer, DecidesEachLineByTheTextBeforeItsFirstCommentMarker) {
    ContentAnalyzer analyzer;
    for (const LineCase& c : kLines) {
        EXPECT_EQ(c.corrupted, analyzer.isCorrupted(c.line)) << c.why;
    }
}

TEST(ContentAnalyzer, KeepsEveryOtherLineInOrderAndCountsPositionsOverAllLines) {
    const LineList lines = {L"# comment", L"127.0.0.1 kvantor", L"", L"1.1.1.1 a",
                            L"0.0.0.0 k-vantor # x", L"\t# tab", L""};
    ContentAnalyzer analyzer;
    LineList kept;
    std::vector<int32_t> indices;
    EXPECT_EQ(2, analyzer.fixContent(lines, &kept, &indices));
    EXPECT_EQ((LineList{L"# comment", L"", L"1.1.1.1 a", L"\t# tab", L""}), kept);
    EXPECT_EQ((std::vector<int32_t>{1, 4}), indices);
    EXPECT_EQ(2, analyzer.fixContent(lines, nullptr, nullptr));
}

TEST(ContentAnalyzer, AppendsToWhatTheListsAlreadyHold) {
    ContentAnalyzer analyzer;
    LineList kept = {L"before"};
    std::vector<int32_t> indices = {99};
    EXPECT_EQ(1, analyzer.fixContent({L"a", L"kvantor"}, &kept, &indices));
    EXPECT_EQ((LineList{L"before", L"a"}), kept);
    EXPECT_EQ((std::vector<int32_t>{99, 1}), indices);
}

TEST(ContentAnalyzer, AllLinesCorruptedLeavesOnlyTheFinalEmptyElement) {
    ContentAnalyzer analyzer;
    LineList kept;
    EXPECT_EQ(2, analyzer.fixContent({L"1.1.1.1 kvantor", L"2.2.2.2 k-vantor", L""}, &kept, nullptr));
    EXPECT_EQ((LineList{L""}), kept);
}

TEST(ContentAnalyzer, OwnPatternsAreSearchedAsStoredAndTheBuiltInOnesStillApply) {
    ContentAnalyzer analyzer;
    analyzer.setPatterns({L"ADSERVER", L"lower"});
    EXPECT_TRUE(analyzer.isCorrupted(L"0.0.0.0 adserver.example"));
    // The line is upper-cased, the pattern is not: a lower-case pattern never matches.
    EXPECT_FALSE(analyzer.isCorrupted(L"0.0.0.0 lower"));
    EXPECT_TRUE(analyzer.isCorrupted(L"0.0.0.0 kvantor"));
    EXPECT_FALSE(analyzer.isCorrupted(L"0.0.0.0 example.com"));
}

TEST(ContentAnalyzer, AnEmptyOwnPatternDoesNotMakeEveryLineCorrupted) {
    ContentAnalyzer analyzer;
    analyzer.setPatterns({L"", L"ADSERVER"});
    EXPECT_EQ(1u, analyzer.patterns().size());
    EXPECT_FALSE(analyzer.isCorrupted(L"127.0.0.1 localhost"));
}

}  // namespace
