// windriver: drives the first visible dialog on the desktop from a shell
// script, through the dialog driver library.
//
//   windriver.exe wait      [--pid N] [--timeout ms]   print the dialog's facts
//   windriver.exe click ID  [--pid N] [--timeout ms]   click the control ID
//   windriver.exe escape    [--pid N] [--timeout ms]   press Escape in it
//   windriver.exe closebox  [--pid N] [--timeout ms]   click its caption's close box
//   windriver.exe wait-gone [--pid N] [--timeout ms]   wait until it has closed
//
// --pid limits the search to one process (default: any). --timeout is how
// long to wait for the dialog to appear, or for wait-gone to see it go
// (default 10000 ms). --messages posts messages instead of real input.
//
// `wait` prints one fact a line, UTF-8, line breaks inside texts written as \n:
//   pid=<process id>
//   caption=<caption>
//   <id>=<text>            for 1006, 2 and 1007
//   <id>.enabled=<1|0>
//   <id>.visible=<1|0>
//
// Exit codes: 0 done; 1 no dialog appeared in time (or, for wait-gone, it is
// still open); 2 bad command line; 3 the action could not be done (no such
// control, or hidden).
#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "tools/dialogdriver/DialogDriver.h"

namespace {

constexpr int kDone = 0;
constexpr int kTimedOut = 1;
constexpr int kUsage = 2;
constexpr int kFailed = 3;

void Write(HANDLE handle, const std::wstring& text) {
    if (text.empty()) return;
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0) return;
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void Out(const std::wstring& line) { Write(::GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n"); }
void Err(const std::wstring& line) { Write(::GetStdHandle(STD_ERROR_HANDLE), L"windriver: " + line + L"\n"); }

// One fact a line: line breaks inside a text must not start a new fact.
std::wstring OneLine(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            out += L"\\n";
        } else if (text[i] == L'\n') {
            out += L"\\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ParseNumber(const wchar_t* text, unsigned long* value) {
    if (!text || !*text) return false;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::wcstoul(text, &end, 10);
    if (*end != L'\0' || errno != 0 || text[0] == L'-') return false;
    *value = parsed;
    return true;
}

struct Options {
    std::wstring command;
    unsigned long controlId = 0;
    bool haveControlId = false;
    DWORD processId = 0;
    DWORD timeoutMs = 10000;
    bool messages = false;
};

int Usage(const std::wstring& problem) {
    Err(problem);
    Err(L"usage: windriver.exe wait|click <id>|escape|closebox|wait-gone [--pid N] [--timeout ms] [--messages]");
    return kUsage;
}

bool Parse(int argc, wchar_t** argv, Options* options, std::wstring* problem) {
    if (argc < 2) {
        *problem = L"no command";
        return false;
    }
    options->command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        unsigned long value = 0;
        if (arg == L"--pid" || arg == L"--timeout") {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], &value) || value > 0xFFFFFFFFul) {
                *problem = arg + L" needs a number";
                return false;
            }
            if (arg == L"--pid") {
                options->processId = static_cast<DWORD>(value);
            } else {
                options->timeoutMs = static_cast<DWORD>(value);
            }
            ++i;
        } else if (arg == L"--messages") {
            options->messages = true;
        } else if (options->command == L"click" && !options->haveControlId && ParseNumber(argv[i], &value) &&
                   value <= 0xFFFF) {
            options->controlId = value;
            options->haveControlId = true;
        } else {
            *problem = L"unexpected argument: " + arg;
            return false;
        }
    }
    const std::wstring& c = options->command;
    if (c != L"wait" && c != L"click" && c != L"escape" && c != L"closebox" && c != L"wait-gone") {
        *problem = L"unknown command: " + c;
        return false;
    }
    if (c == L"click" && !options->haveControlId) {
        *problem = L"click needs a control id";
        return false;
    }
    return true;
}

void PrintFacts(HWND dialog) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(dialog, &processId);
    Out(L"pid=" + std::to_wstring(processId));
    Out(L"caption=" + OneLine(DialogDriver::WindowText(dialog)));
    for (int id : {1006, 2, 1007}) {
        const std::wstring key = std::to_wstring(id);
        Out(key + L"=" + OneLine(DialogDriver::ItemText(dialog, id)));
        Out(key + L".enabled=" + (DialogDriver::ItemEnabled(dialog, id) ? L"1" : L"0"));
        Out(key + L".visible=" + (DialogDriver::ItemVisible(dialog, id) ? L"1" : L"0"));
    }
}

int Run(const Options& options) {
    if (options.messages) DialogDriver::SetPreferredInputMethod(DialogDriver::InputMethod::Messages);
    if (options.command == L"wait-gone") {
        HWND dialog = DialogDriver::FindDialog(options.processId);
        if (!dialog) return kDone;
        if (DialogDriver::WaitForClose(dialog, options.timeoutMs)) return kDone;
        Err(L"the dialog is still open");
        return kTimedOut;
    }
    HWND dialog = DialogDriver::WaitForDialog(options.processId, options.timeoutMs);
    if (!dialog) {
        Err(L"no dialog appeared within " + std::to_wstring(options.timeoutMs) + L" ms");
        return kTimedOut;
    }
    if (options.command == L"wait") {
        PrintFacts(dialog);
        return kDone;
    }
    bool done = false;
    if (options.command == L"click") {
        done = DialogDriver::Click(dialog, static_cast<int>(options.controlId));
    } else if (options.command == L"escape") {
        done = DialogDriver::PressEscape(dialog);
    } else {
        done = DialogDriver::PressCloseBox(dialog);
    }
    if (!done) {
        Err(options.command + L" could not be done");
        return kFailed;
    }
    const bool real = DialogDriver::LastInputMethod() == DialogDriver::InputMethod::RealInput;
    Out(options.command + L" delivered by " + (real ? L"input" : L"messages"));
    return kDone;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    std::wstring problem;
    if (!Parse(argc, argv, &options, &problem)) return Usage(problem);
    return Run(options);
}
