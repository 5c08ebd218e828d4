#include "app/RunOptions.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "app/OptionParser.h"

namespace {
const wchar_t kLang[] = L"lang";
const wchar_t kQuiet[] = L"quiet";
const wchar_t kPassive[] = L"passive";
const wchar_t kHelp[] = L"help";
const wchar_t kSource[] = L"source";
const wchar_t kInstallerArgs[] = L"installer-args";
const wchar_t kCheck[] = L"check";
const wchar_t kLog[] = L"log";

bool Holds(const std::vector<std::wstring>& names, const wchar_t* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

void RunOptions::AddOptions(OptionParser& parser) {
    parser.AddOption(OptionSpec{kLang, L'l', MandatoryArgument});
    parser.AddOption(OptionSpec{kQuiet, L'q', NoArgument, L"/quiet"});
    // No short letter: "-p" is too easily meant as something else.
    parser.AddOption(OptionSpec{kPassive, L'\0', NoArgument, L"/passive"});
    parser.AddOption(OptionSpec{kHelp, L'h', NoArgument, L"/?"});
    parser.AddOption(OptionSpec{kSource, L'\0', MandatoryArgument});
    parser.AddOption(OptionSpec{kInstallerArgs, L'\0', MandatoryArgument});
    parser.AddOption(OptionSpec{kCheck, L'\0', NoArgument, L"/check"});
    parser.AddOption(OptionSpec{kLog, L'\0', MandatoryArgument, L"/log"});
}

RunOptions RunOptions::Read(const std::wstring& commandLine) {
    OptionParser parser;
    AddOptions(parser);
    RunOptions options;
    try {
        parser.Parse(commandLine);
        for (const ParsedOption& result : parser.GetResults()) {
            if (result.name == kLang) options.language = result.value;
            if (result.name == kSource) options.installerSource = result.value;
            if (result.name == kInstallerArgs) options.installerArguments = result.value;
            if (result.name == kLog) options.logFile = result.value;
        }
    } catch (const std::exception&) {
        // A malformed line counts for nothing, options found before the error included.
    }
    const std::vector<std::wstring> named = parser.FindAnywhere(commandLine);
    if (Holds(named, kQuiet)) {
        options.mode = RunMode::Quiet;
    } else if (Holds(named, kPassive)) {
        options.mode = RunMode::Passive;
    }
    options.help = Holds(named, kHelp);
    options.check = Holds(named, kCheck);
    return options;
}
