#pragma once
// What the command line asks of a run: the display language, how much the
// run may show and ask (interactive, passive or quiet), and the help window.
#include <string>

class OptionParser;

enum class RunMode {
    Interactive,  // every window waits for its button
    Passive,      // windows shown, none waits: the offer is taken, the others close by themselves
    Quiet,        // no window at all
};

struct RunOptions {
    std::wstring language;  // empty: none given, or the line did not parse
    RunMode mode = RunMode::Interactive;
    bool help = false;
    std::wstring installerSource;     // --source: a file, UNC path or http(s) URL of the installer
    std::wstring installerArguments;  // --installer-args: the installer's command-line arguments

    // Decide the road, change nothing, show nothing: for detection rules.
    bool check = false;
    // A second file that receives every line of this run; empty for none.
    std::wstring logFile;

    // Registers the program's options: lang (-l), quiet (-q, /quiet),
    // passive (/passive), help (-h, /?), check (/check), log (/log), source
    // and installer-args (no short letter, each with a value).
    static void AddOptions(OptionParser& parser);

    // Reads a whole command line, the program's path first. A line that does
    // not parse gives no language, as it always has; quiet, passive and help
    // hold wherever they stand on it, so that a typo elsewhere can neither
    // make an unattended run wait for a click nor turn a request for help
    // into a run of the road; check holds the same way, so that a detection
    // rule with a typo never installs. Quiet wins over passive.
    static RunOptions Read(const std::wstring& commandLine);
};
