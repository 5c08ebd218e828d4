#include "app/OptionParser.h"

#include <cstddef>
#include <cwctype>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }

bool StartsWithDash(const std::wstring& element) { return !element.empty() && element[0] == L'-'; }

std::wstring JoinWithBlanks(const std::vector<std::wstring>& elements, size_t from) {
    std::wstring joined;
    for (size_t i = from; i < elements.size(); ++i) {
        if (i > from) joined += L' ';
        joined += elements[i];
    }
    return joined;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

bool IsWindowsForm(const OptionSpec& option, const std::wstring& element) {
    return !option.windowsForm.empty() && EqualsIgnoringCase(element, option.windowsForm);
}

bool NamesOption(const OptionSpec& option, const std::wstring& element) {
    if (IsWindowsForm(option, element)) return true;
    if (element == L"--" + option.longName) return true;
    return option.shortName != L'\0' && element.size() == 2 && element[0] == L'-' && element[1] == option.shortName;
}

}  // namespace

void OptionParser::AddOption(const OptionSpec& option) {
    if (FindLong(option.longName)) Fail("attempt to add same option twice");
    options_.push_back(option);
}

const OptionSpec* OptionParser::FindLong(const std::wstring& name) const {
    for (const OptionSpec& option : options_) {
        if (option.longName == name) return &option;
    }
    return nullptr;
}

const OptionSpec* OptionParser::FindShort(wchar_t letter) const {
    for (const OptionSpec& option : options_) {
        if (option.shortName == letter) return &option;
    }
    return nullptr;
}

const OptionSpec* OptionParser::FindWindowsForm(const std::wstring& element) const {
    for (const OptionSpec& option : options_) {
        if (IsWindowsForm(option, element)) return &option;
    }
    return nullptr;
}

void OptionParser::TakeWindowsForms(std::vector<std::wstring>& elements) {
    for (size_t i = 1; i < elements.size();) {
        const OptionSpec* option = FindWindowsForm(elements[i]);
        if (!option) {
            ++i;
            continue;
        }
        // A Windows form that takes a value ("/log <file>") takes the next
        // element, unless that is an option itself.
        ParsedOption result{0, option->longName, std::wstring()};
        size_t end = i + 1;
        if (option->kind != NoArgument) {
            const bool valueFollows =
                end < elements.size() && !StartsWithDash(elements[end]) && !FindWindowsForm(elements[end]);
            if (option->kind == MandatoryArgument && !valueFollows) Fail("missing mandatory argument");
            if (valueFollows) result = ParsedOption{1, option->longName, elements[end++]};
        }
        Record(result);
        const auto first = elements.begin() + static_cast<std::ptrdiff_t>(i);
        elements.erase(first, first + static_cast<std::ptrdiff_t>(end - i));
    }
}

std::vector<std::wstring> OptionParser::FindAnywhere(const std::wstring& commandLine) const {
    const std::vector<std::wstring> elements = TokenizeLeniently(commandLine);
    std::vector<std::wstring> named;
    for (const OptionSpec& option : options_) {
        for (size_t i = 1; i < elements.size(); ++i) {
            if (NamesOption(option, elements[i])) {
                named.push_back(option.longName);
                break;
            }
        }
    }
    return named;
}

void OptionParser::Parse(const std::wstring& commandLine) {
    results_.clear();
    std::vector<std::wstring> elements = Tokenize(commandLine);
    TakeWindowsForms(elements);
    size_t next = elements.empty() ? 0 : 1;  // the program's path is not an argument

    while (next < elements.size()) {
        const std::wstring& element = elements[next];
        if (element == L"--") {
            // Everything after a lone "--" is positional text.
            if (next + 1 < elements.size()) AddPositional(elements, next + 1);
            return;
        }
        if (!StartsWithDash(element)) {
            // Positional text ends the options: what follows belongs to it.
            AddPositional(elements, next);
            return;
        }
        const OptionSpec* option = nullptr;
        if (element.size() >= 2 && element[1] == L'-') {
            option = FindLong(element.substr(2));
            if (!option) Fail("long option not found");
        } else {
            if (element.size() != 2) Fail("invalid short argument");
            option = FindShort(element[1]);
            if (!option) Fail("short option not found");
        }
        ++next;
        TakeOption(*option, elements, next);
    }
}

void OptionParser::TakeOption(const OptionSpec& option, const std::vector<std::wstring>& elements, size_t& next) {
    ParsedOption result{0, option.longName, std::wstring()};
    const bool valueFollows = next < elements.size() && !StartsWithDash(elements[next]);
    if (option.kind == MandatoryArgument && !valueFollows) Fail("missing mandatory argument");
    if ((option.kind == OptionalArgument || option.kind == MandatoryArgument) && valueFollows) {
        result.hasValue = 1;
        result.value = elements[next];
        ++next;
    }
    Record(result);
}

void OptionParser::Record(const ParsedOption& result) {
    for (const ParsedOption& earlier : results_) {
        if (earlier.name == result.name) Fail("same option specified twice");
    }
    results_.push_back(result);
}

void OptionParser::AddPositional(const std::vector<std::wstring>& elements, size_t from) {
    const std::wstring text = JoinWithBlanks(elements, from);
    if (!text.empty()) results_.push_back(ParsedOption{1, kPositionalName, text});
}

std::vector<std::wstring> OptionParser::Tokenize(const std::wstring& line) {
    enum class State { Between, Quoted, AfterQuote, Plain };
    std::vector<std::wstring> elements;
    State state = State::Between;
    std::wstring current;

    for (const wchar_t c : line) {
        switch (state) {
        case State::Between:
            if (c == L' ') break;
            if (c == L'"') {
                state = State::Quoted;
            } else {
                current.assign(1, c);
                state = State::Plain;
            }
            break;
        case State::Quoted:
            if (c == L'"') {
                if (current.empty()) Fail("empty quoted");
                elements.push_back(current);
                current.clear();
                state = State::AfterQuote;
            } else {
                current += c;
            }
            break;
        case State::AfterQuote:
            if (c != L' ') Fail("expected space");
            state = State::Between;
            break;
        case State::Plain:
            if (c == L'"') Fail("quotation in the middle of element");
            if (c == L' ') {
                elements.push_back(current);
                current.clear();
                state = State::Between;
            } else {
                current += c;
            }
            break;
        }
    }
    if (state == State::Quoted) Fail("unexpected end of line");
    if (state == State::Plain) elements.push_back(current);
    return elements;
}

std::vector<std::wstring> OptionParser::TokenizeLeniently(const std::wstring& line) {
    try {
        return Tokenize(line);
    } catch (const std::exception&) {
        // Falls through to the plain split below.
    }
    std::vector<std::wstring> elements;
    size_t at = line.find_first_not_of(L' ');
    if (at == std::wstring::npos) return elements;
    // The program's path: quoted up to the next quotation mark, else up to a blank.
    const bool quoted = line[at] == L'"';
    const size_t start = quoted ? at + 1 : at;
    const size_t end = line.find(quoted ? L'"' : L' ', start);
    elements.push_back(line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    at = end == std::wstring::npos ? line.size() : end + 1;
    std::wstring current;
    for (; at <= line.size(); ++at) {
        const wchar_t c = at < line.size() ? line[at] : L' ';
        if (c == L'"') continue;
        if (c != L' ') {
            current += c;
        } else if (!current.empty()) {
            elements.push_back(current);
            current.clear();
        }
    }
    return elements;
}
