// The option parser with the program's options registered.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/OptionParser.h"
#include "app/RunOptions.h"

namespace {

struct Expected {
    int hasValue;
    const wchar_t* name;
    const wchar_t* value;
};

struct ParseCase {
    const wchar_t* line;
    const char* error;  // null: the parse succeeds with the results below
    std::vector<Expected> results;
};

OptionParser LangParser() {
    OptionParser parser;
    RunOptions::AddOptions(parser);
    return parser;
}

std::string ErrorOf(OptionParser& parser, const std::wstring& line) {
    try {
        parser.Parse(line);
    } catch (const std::exception& error) {
        return error.what();
    }
    return std::string();
}

TEST(OptionParser, CommandLinesOfTheLangOption) {
    const ParseCase cases[] = {
        {L"tool.exe --lang fi", nullptr, {{1, L"lang", L"fi"}}},
        {L"tool.exe -l fi", nullptr, {{1, L"lang", L"fi"}}},
        {L"tool.exe --lang \"zh-TW\"", nullptr, {{1, L"lang", L"zh-TW"}}},
        {L"tool.exe    --lang    fi   ", nullptr, {{1, L"lang", L"fi"}}},
        {L"tool.exe --lang FI", nullptr, {{1, L"lang", L"FI"}}},
        {L"tool.exe", nullptr, {}},
        {L"", nullptr, {}},
        {L"   ", nullptr, {}},
        {L"tool.exe word --lang fi", nullptr, {{1, L"--", L"word --lang fi"}}},
        {L"tool.exe -- a b", nullptr, {{1, L"--", L"a b"}}},
        {L"tool.exe --lang fi --", nullptr, {{1, L"lang", L"fi"}}},
        {L"tool.exe --", nullptr, {}},
        {L"\"C:\\Program Files\\tool.exe\" -l de", nullptr, {{1, L"lang", L"de"}}},
        {L"C:\\Program Files\\tool.exe -l de", nullptr, {{1, L"--", L"Files\\tool.exe -l de"}}},
        {L"tool.exe --lang \"a b\"", nullptr, {{1, L"lang", L"a b"}}},
        {L"tool.exe --lang\tfi", "long option not found", {}},
        {L"tool.exe --\"lang\" fi", "quotation in the middle of element", {}},
        {L"tool.exe --lang", "missing mandatory argument", {}},
        {L"tool.exe --lang -l", "missing mandatory argument", {}},
        {L"tool.exe -l --lang fi", "missing mandatory argument", {}},
        {L"tool.exe --lang fi -l de", "same option specified twice", {}},
        {L"tool.exe --lang fi --lang fi", "same option specified twice", {}},
        {L"tool.exe -lf fi", "invalid short argument", {}},
        {L"tool.exe - fi", "invalid short argument", {}},
        {L"tool.exe -x fi", "short option not found", {}},
        {L"tool.exe -L fi", "short option not found", {}},
        {L"tool.exe --language fi", "long option not found", {}},
        {L"tool.exe --lang=fi", "long option not found", {}},
        {L"tool.exe --LANG fi", "long option not found", {}},
        {L"tool.exe --lang \"fi\"x", "expected space", {}},
        {L"tool.exe --lang \"fi", "unexpected end of line", {}},
        {L"tool.exe --lang \"\"", "empty quoted", {}},
        {L"tool.exe fi\"", "quotation in the middle of element", {}},
        {L"tool.exe --quiet -l fi", nullptr, {{0, L"quiet", L""}, {1, L"lang", L"fi"}}},
        {L"tool.exe -q", nullptr, {{0, L"quiet", L""}}},
        {L"tool.exe --passive --help", nullptr, {{0, L"passive", L""}, {0, L"help", L""}}},
        {L"tool.exe -h", nullptr, {{0, L"help", L""}}},
        // Windows forms: whole elements anywhere, in any case, reported first.
        {L"tool.exe -l fi /QUIET", nullptr, {{0, L"quiet", L""}, {1, L"lang", L"fi"}}},
        {L"tool.exe word /Passive /?", nullptr, {{0, L"passive", L""}, {0, L"help", L""}, {1, L"--", L"word"}}},
        {L"\"C:\\x\\tool.exe\" -- a /quiet", nullptr, {{0, L"quiet", L""}, {1, L"--", L"a"}}},
        {L"tool.exe /quietly /q /h", nullptr, {{1, L"--", L"/quietly /q /h"}}},
        {L"tool.exe --lang \"/quiet x\"", nullptr, {{1, L"lang", L"/quiet x"}}},
        {L"tool.exe /quiet -q", "same option specified twice", {}},
        {L"tool.exe --lang /quiet", "missing mandatory argument", {}},
        {L"tool.exe -q fi", nullptr, {{0, L"quiet", L""}, {1, L"--", L"fi"}}},
        {L"tool.exe --QUIET", "long option not found", {}},
        {L"tool.exe -p", "short option not found", {}},
        {L"tool.exe -passive", "invalid short argument", {}},
        {L"tool.exe /quiet --installer-args \"/S /norestart\" --source \\\\srv\\pkg\\setup.exe", nullptr,
         {{0, L"quiet", L""}, {1, L"installer-args", L"/S /norestart"}, {1, L"source", L"\\\\srv\\pkg\\setup.exe"}}},
        {L"tool.exe --source https://mirror/setup.exe", nullptr, {{1, L"source", L"https://mirror/setup.exe"}}},
        {L"tool.exe --installer-args", "missing mandatory argument", {}},
        {L"tool.exe --installer-args --quiet", "missing mandatory argument", {}},
        // Check and log, each in both forms; a Windows form with a value takes the next element.
        {L"tool.exe /CHECK /log \"C:\\a b\\x.log\"", nullptr, {{0, L"check", L""}, {1, L"log", L"C:\\a b\\x.log"}}},
        {L"tool.exe --check --log x.log -q", nullptr, {{0, L"check", L""}, {1, L"log", L"x.log"}, {0, L"quiet", L""}}},
        {L"tool.exe -l fi /log x.log word", nullptr, {{1, L"log", L"x.log"}, {1, L"lang", L"fi"}, {1, L"--", L"word"}}},
        {L"tool.exe /log", "missing mandatory argument", {}},
        {L"tool.exe /log /check", "missing mandatory argument", {}},
        {L"tool.exe /log -q", "missing mandatory argument", {}},
        {L"tool.exe /check --check", "same option specified twice", {}},
    };
    for (const ParseCase& c : cases) {
        OptionParser parser = LangParser();
        const std::string error = ErrorOf(parser, c.line);
        if (c.error) {
            EXPECT_EQ(c.error, error) << c.line;
            continue;
        }
        ASSERT_EQ("", error) << c.line;
        const std::vector<ParsedOption> results = parser.GetResults();
        ASSERT_EQ(c.results.size(), results.size()) << c.line;
        for (size_t i = 0; i < results.size(); ++i) {
            EXPECT_EQ(c.results[i].hasValue, results[i].hasValue) << c.line;
            EXPECT_EQ(c.results[i].name, results[i].name) << c.line;
            EXPECT_EQ(c.results[i].value, results[i].value) << c.line;
        }
    }
}

TEST(OptionParser, ArgumentKindsDecideWhetherAValueIsTaken) {
    OptionParser second;
    second.AddOption(OptionSpec{L"quiet", L'q', NoArgument});
    second.AddOption(OptionSpec{L"log", L'g', OptionalArgument});
    second.Parse(L"tool.exe --log file.txt -q rest of line");
    const std::vector<ParsedOption> results = second.GetResults();
    ASSERT_EQ(3u, results.size());
    EXPECT_EQ(1, results[0].hasValue);
    EXPECT_EQ(L"log", results[0].name);
    EXPECT_EQ(L"file.txt", results[0].value);
    EXPECT_EQ(0, results[1].hasValue);
    EXPECT_EQ(L"quiet", results[1].name);
    EXPECT_EQ(L"", results[1].value);
    // A NoArgument option leaves the next word to the positional text.
    EXPECT_EQ(L"--", results[2].name);
    EXPECT_EQ(L"rest of line", results[2].value);
}

TEST(OptionParser, OptionalArgumentWithoutValueAndUnknownLongOption) {
    OptionParser parser;
    parser.AddOption(OptionSpec{L"log", L'g', OptionalArgument});
    EXPECT_EQ("", ErrorOf(parser, L"tool.exe -g"));
    ASSERT_EQ(1u, parser.GetResults().size());
    EXPECT_EQ(0, parser.GetResults()[0].hasValue);
    EXPECT_EQ(L"log", parser.GetResults()[0].name);
    EXPECT_EQ("long option not found", ErrorOf(parser, L"tool.exe -g --quiet2"));
}

TEST(OptionParser, SameLongNameCannotBeRegisteredTwice) {
    OptionParser parser = LangParser();
    try {
        parser.AddOption(OptionSpec{L"lang", L'x', NoArgument});
        FAIL() << "no error";
    } catch (const std::exception& error) {
        EXPECT_STREQ("attempt to add same option twice", error.what());
    }
    // Only the long name is compared.
    EXPECT_NO_THROW(parser.AddOption(OptionSpec{L"locale", L'l', NoArgument}));
}

TEST(OptionParser, EachParseStartsFromNoResults) {
    OptionParser parser = LangParser();
    parser.Parse(L"tool.exe --lang fi");
    parser.Parse(L"tool.exe -l de");
    ASSERT_EQ(1u, parser.GetResults().size());
    EXPECT_EQ(L"de", parser.GetResults()[0].value);
}

TEST(OptionParserTokenize, SplitsAtBlanksOnlyAndDropsTheQuotes) {
    using Elements = std::vector<std::wstring>;
    EXPECT_EQ((Elements{}), OptionParser::Tokenize(L""));
    EXPECT_EQ((Elements{L"a", L"b"}), OptionParser::Tokenize(L"  a   b  "));
    EXPECT_EQ((Elements{L"a\tb"}), OptionParser::Tokenize(L"a\tb"));
    EXPECT_EQ((Elements{L"x y", L"z"}), OptionParser::Tokenize(L"\"x y\" z"));
    EXPECT_EQ((Elements{L"x", L"y"}), OptionParser::Tokenize(L"\"x\" \"y\""));
    EXPECT_EQ((Elements{L"-"}), OptionParser::Tokenize(L"-"));
}

}  // namespace
