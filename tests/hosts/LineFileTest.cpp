// The line file on real files: what bytes give which lines, and what the
// lines give back when written.
#include <gtest/gtest.h>

#include "hosts/File.h"
#include "hosts/FileReaderWriter.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

struct ReadCase {
    const char* why;
    std::string bytes;
    LineList lines;
    std::string rewritten;  // the bytes after writing the lines back
};

const ReadCase kReadCases[] = {
    {"CR LF terminators, final one kept", "ab\r\ncd\r\n", {L"ab", L"cd", L""}, "ab\r\ncd\r\n"},
    {"LF only becomes CR LF", "ab\ncd\n", {L"ab", L"cd", L""}, "ab\r\ncd\r\n"},
    {"no final terminator stays without one", "ab\r\ncd", {L"ab", L"cd"}, "ab\r\ncd"},
    {"an empty file is one empty line", "", {L""}, ""},
    {"a lone terminator", "\r\n", {L"", L""}, "\r\n"},
    {"empty lines in between", "a\r\n\r\n\nb", {L"a", L"", L"", L"b"}, "a\r\n\r\n\r\nb"},
    {"a lone CR is text", "a\rb\n", {L"a\rb", L""}, "a\rb\r\n"},
    {"bytes 0x80 to 0xFF map to the same code units", "x\x80\xe9\xff\r\n", {L"x\x0080\x00e9\x00ff", L""},
     "x\x80\xe9\xff\r\n"},
    {"a NUL byte is an ordinary unit", std::string("a\0b\n", 4), {std::wstring(L"a\0b", 3), L""},
     std::string("a\0b\r\n", 5)},
    {"a final 0x1A ends the text", "a\nb\x1a", {L"a", L"b"}, "a\r\nb"},
    {"UTF-16 is read byte by byte, no byte-order mark is taken",
     std::string("\xff\xfe" "a\0\r\0\n\0", 8), {std::wstring(L"\x00ff\x00fe" L"a\0\r\0", 6), std::wstring(L"\0", 1)},
     std::string("\xff\xfe" "a\0\r\0\r\n\0", 9)},
};

TEST(LineFile, ReadsTheLinesOfEachKindOfFileAndWritesThemBackWithCrLf) {
    TempFolder folder(L"lines");
    for (const ReadCase& c : kReadCases) {
        const std::wstring path = folder.file(L"input.txt");
        WriteBytes(path, c.bytes);
        LineList lines;
        ASSERT_EQ(0, File(path).content(lines)) << c.why;
        EXPECT_EQ(c.lines, lines) << c.why;

        const std::wstring copy = folder.file(L"output.txt");
        ASSERT_EQ(0, File(copy).setContent(lines)) << c.why;
        EXPECT_EQ(c.rewritten, ReadBytes(copy)) << c.why;
    }
}

TEST(LineFile, KeepsAVeryLongLineWhole) {
    TempFolder folder(L"long");
    const std::string line(200000, 'x');
    WriteBytes(folder.file(L"long.txt"), line + "\r\nkvantor");
    LineList lines;
    ASSERT_EQ(0, File(folder.file(L"long.txt")).content(lines));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(200000u, lines[0].size());
    ASSERT_EQ(0, File(folder.file(L"copy.txt")).setContent(lines));
    EXPECT_EQ(line + "\r\nkvantor", ReadBytes(folder.file(L"copy.txt")));
}

TEST(LineFile, RefusesAFileWithTextAfterAnEndOfFileMark) {
    // Text mode would stop at the mark, and a rewrite would lose what follows.
    TempFolder folder(L"eof");
    WriteBytes(folder.file(L"hosts"), "0.0.0.0 kvantor\r\n\x1a" "10.0.0.1 intranet\r\n");
    LineList lines;
    EXPECT_EQ(2, File(folder.file(L"hosts")).content(lines));
}

TEST(LineFile, AMissingFileIsNotOpened) {
    TempFolder folder(L"missing");
    LineList lines;
    EXPECT_EQ(1, File(folder.file(L"none")).content(lines));
    EXPECT_TRUE(lines.empty());
}

TEST(LineFile, AFolderInPlaceOfTheFileCannotBeWritten) {
    TempFolder folder(L"dirtarget");
    ::CreateDirectoryW(folder.file(L"hosts.bak").c_str(), nullptr);
    EXPECT_EQ(1, File(folder.file(L"hosts.bak")).setContent({L"a"}));
}

TEST(FileReaderWriter, AUnitWithoutAByteFailsTheWriteAlsoInTheLastLine) {
    TempFolder folder(L"wide");
    for (const LineList& lines : {LineList{L"a", L"b\x0100"}, LineList{L"a\x20ac", L"b"}}) {
        std::wfstream stream(folder.file(L"out.txt").c_str(), std::ios::out | std::ios::trunc);
        EXPECT_EQ(3, FileReaderWriter(stream).write(lines));
    }
}

TEST(FileReaderWriter, RefusesAStreamThatIsNotOpenOrNotGood) {
    TempFolder folder(L"streams");
    std::wfstream closed;
    LineList lines;
    EXPECT_EQ(1, FileReaderWriter(closed).read(lines));
    EXPECT_EQ(1, FileReaderWriter(closed).write({L"a"}));
    EXPECT_TRUE(lines.empty());

    WriteBytes(folder.file(L"in.txt"), "a\n");
    std::wfstream failed(folder.file(L"in.txt").c_str(), std::ios::in);
    failed.setstate(std::ios::failbit);
    EXPECT_EQ(1, FileReaderWriter(failed).read(lines));
    EXPECT_TRUE(lines.empty());
}

TEST(FileAttributes, ChangesOneBitAndKeepsTheOthers) {
    TempFolder folder(L"attributes");
    const File file(folder.file(L"hosts"));
    WriteBytes(file.path(), "x");
    ASSERT_TRUE(file.setAttribute(true, FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(file.setAttribute(true, FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(file.hasAttribute(FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(file.hasAttribute(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(file.hasAttribute(FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(file.setAttribute(false, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(file.hasAttribute(FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(file.hasAttribute(FILE_ATTRIBUTE_HIDDEN));

    const File missing(folder.file(L"none"));
    EXPECT_FALSE(missing.hasAttribute(FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(missing.setAttribute(true, FILE_ATTRIBUTE_READONLY));
}

}  // namespace
