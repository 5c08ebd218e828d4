#pragma once
// A small parser of one UTF-16 command line: options with a long name after
// two dashes or a one-letter short name after one dash, each with or without
// a value in the next element. Every syntax or usage error throws an
// exception (std::runtime_error, caught as std::exception) with a fixed message.
#include <string>
#include <vector>

enum OptionArgument : int {
    NoArgument = 0,
    OptionalArgument = 1,
    MandatoryArgument = 2,
};

struct OptionSpec {
    std::wstring longName;  // matched exactly after "--"
    wchar_t shortName;      // matched exactly after "-"
    int kind;               // OptionArgument
};

struct ParsedOption {
    int hasValue;
    std::wstring name;  // the option's long name; "--" for positional text
    std::wstring value;
};

class OptionParser {
public:
    // The name under which positional text is reported.
    static constexpr const wchar_t* kPositionalName = L"--";

    void AddOption(const OptionSpec& option);
    // Parses a whole command line, the program's path first.
    void Parse(const std::wstring& commandLine);
    std::vector<ParsedOption> GetResults() const { return results_; }

    // Splits a line at blanks; an element may be written in quotes (which
    // are not part of it). There is no escape character.
    static std::vector<std::wstring> Tokenize(const std::wstring& line);

private:
    const OptionSpec* FindLong(const std::wstring& name) const;
    const OptionSpec* FindShort(wchar_t letter) const;
    // Consumes the option's value from the front of elements when it takes one.
    void TakeOption(const OptionSpec& option, const std::vector<std::wstring>& elements, size_t& next);
    void AddPositional(const std::vector<std::wstring>& elements, size_t from);

    std::vector<OptionSpec> options_;
    std::vector<ParsedOption> results_;
};
