#pragma once
// A small parser of one UTF-16 command line: options with a long name after
// two dashes or a one-letter short name after one dash, each with or without
// a value in the next element, and switches in the Windows form ("/quiet"),
// which are whole elements found anywhere on the line in any letter case.
// Every syntax or usage error throws an exception (std::runtime_error, caught
// as std::exception) with a fixed message.
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
    // The Windows form, slash included ("/quiet", "/?"), matched in any case
    // as a whole element anywhere on the line; empty for none. It takes the
    // next element as its value when the kind asks for one ("/log <file>").
    std::wstring windowsForm = std::wstring();
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

    // The long names of the registered options that a line names in any of
    // their forms as a whole element, wherever it stands and whether or not
    // the line parses: for the switches that must hold even on a line with a
    // typo elsewhere. Never throws.
    std::vector<std::wstring> FindAnywhere(const std::wstring& commandLine) const;

    // Splits a line at blanks; an element may be written in quotes (which
    // are not part of it). There is no escape character.
    static std::vector<std::wstring> Tokenize(const std::wstring& line);
    // Tokenize's elements when the line tokenizes; otherwise the program's
    // path (quoted or up to the first blank) and then the rest split at
    // blanks with every quotation mark dropped, so that a stray quote cannot
    // hide a switch. Never throws.
    static std::vector<std::wstring> TokenizeLeniently(const std::wstring& line);

private:
    const OptionSpec* FindLong(const std::wstring& name) const;
    const OptionSpec* FindShort(wchar_t letter) const;
    const OptionSpec* FindWindowsForm(const std::wstring& element) const;
    // Reports and removes every element in a Windows form (the path excepted).
    void TakeWindowsForms(std::vector<std::wstring>& elements);
    void Record(const ParsedOption& result);
    // Consumes the option's value from the front of elements when it takes one.
    void TakeOption(const OptionSpec& option, const std::vector<std::wstring>& elements, size_t& next);
    void AddPositional(const std::vector<std::wstring>& elements, size_t from);

    std::vector<OptionSpec> options_;
    std::vector<ParsedOption> results_;
};
