// windriver.exe, the scripts' front of the driver, run as a separate process
// against a dialog of this one: what it prints, its exit codes, and that its
// presses reach a dialog of another process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "tests/support/TestDialog.h"
#include "tests/support/TestFiles.h"
#include "tools/dialogdriver/DialogDriver.h"

using namespace testdialog;

namespace {

std::wstring WindriverPath() { return testsupport::WindowsPath(KV_WINDRIVER_PATH); }

std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
};

ToolRun Windriver(const std::wstring& arguments) {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr;
    HANDLE writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return run;
    kv::unique_handle readEnd(readRaw);
    kv::unique_handle writeEnd(writeRaw);
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = L"\"" + WindriverPath() + L"\" " + arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process)) {
        return run;
    }
    kv::unique_handle processHandle(process.hProcess);
    kv::unique_handle threadHandle(process.hThread);
    writeEnd.reset();
    // Read until the program has ended, not until the pipe closes: a process
    // that the first window program of a session makes start (the desktop's)
    // may inherit the pipe's write end and keep it open.
    char buffer[4096];
    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    for (;;) {
        const bool ended = ::WaitForSingleObject(processHandle.get(), 20) == WAIT_OBJECT_0;
        DWORD available = 0;
        while (::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            DWORD got = 0;
            if (!::ReadFile(readEnd.get(), buffer, sizeof(buffer), &got, nullptr) || got == 0) break;
            run.out.append(buffer, got);
        }
        if (ended || ::GetTickCount64() >= deadline) break;
    }
    ::GetExitCodeProcess(processHandle.get(), &run.exitCode);
    return run;
}

std::wstring Pid() { return L" --pid " + std::to_wstring(::GetCurrentProcessId()); }

bool HasLine(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

// Ends a dialog that a test has finished with. A typed Escape can go astray
// while another program takes the foreground; the test is about something
// else, so the command the key stands for is posted then.
void CloseAfterwards(HWND dialog) {
    DialogDriver::PressEscape(dialog);
    if (!DialogDriver::WaitForClose(dialog, 5000)) {
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        DialogDriver::WaitForClose(dialog, 5000);
    }
}

TEST(WindriverTest, WaitPrintsEveryFactOneALineInUtf8) {
    ToolRun run;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        if (!dialog) return;
        run = Windriver(L"wait --timeout 5000" + Pid());
        CloseAfterwards(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(0u, run.exitCode) << run.out;
    EXPECT_TRUE(HasLine(run.out, "pid=" + std::to_string(::GetCurrentProcessId()))) << run.out;
    EXPECT_TRUE(HasLine(run.out, "caption=" + Utf8(kCaption))) << run.out;
    EXPECT_TRUE(HasLine(run.out, "1006=Upgrade")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "1006.enabled=1")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "2=&Close")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "2.visible=1")) << run.out;
    // The status text's line break stays inside its one line.
    EXPECT_TRUE(HasLine(run.out, "1007=Status: \xC3\xA9t\xC3\xA9\\n\xE4\xB8\xAD\xE6\x96\x87")) << run.out;
}

TEST(WindriverTest, ReportsADisabledButton) {
    ToolRun run;
    RunWhile([&](HWND dialog) {
        if (!dialog) return;
        ::EnableWindow(::GetDlgItem(dialog, kEnabledButton), FALSE);
        run = Windriver(L"wait" + Pid());
        CloseAfterwards(dialog);
    });
    EXPECT_TRUE(HasLine(run.out, "1006.enabled=0")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "1006.visible=1")) << run.out;
}

struct Press {
    const wchar_t* arguments;
    INT_PTR result;
};

class WindriverPress : public ::testing::TestWithParam<Press> {};

TEST_P(WindriverPress, EndsTheDialogOfAnotherProcessWithRealInput) {
    ToolRun run;
    bool closed = false;
    const INT_PTR result = RunWhile([&](HWND dialog) {
        if (!dialog) return;
        run = Windriver(std::wstring(GetParam().arguments) + Pid());
        closed = DialogDriver::WaitForClose(dialog, 5000);
    });
    EXPECT_EQ(0u, run.exitCode) << run.out;
    EXPECT_TRUE(closed);
    EXPECT_EQ(GetParam().result, result);
    EXPECT_NE(std::string::npos, run.out.find("delivered by input")) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Commands, WindriverPress,
                         ::testing::Values(Press{L"click 1006", kEnabledButton}, Press{L"click 2", IDCANCEL},
                                           Press{L"escape", IDCANCEL}, Press{L"closebox", IDCANCEL}),
                         [](const ::testing::TestParamInfo<Press>& info) {
                             std::string name;
                             for (const wchar_t* c = info.param.arguments; *c; ++c) {
                                 if (iswalnum(*c)) name += static_cast<char>(*c);
                             }
                             return name;
                         });

TEST(WindriverTest, WaitGoneWaitsForTheDialogToClose) {
    ToolRun whileOpen;
    ToolRun afterClose;
    RunWhile([&](HWND dialog) {
        if (!dialog) return;
        whileOpen = Windriver(L"wait-gone --timeout 300" + Pid());
        CloseAfterwards(dialog);
        afterClose = Windriver(L"wait-gone --timeout 300" + Pid());
    });
    EXPECT_EQ(1u, whileOpen.exitCode) << whileOpen.out;
    EXPECT_EQ(0u, afterClose.exitCode) << afterClose.out;
}

TEST(WindriverTest, NoDialogAndMissingControlsAreFailures) {
    EXPECT_EQ(1u, Windriver(L"wait --timeout 200" + Pid()).exitCode);
    EXPECT_EQ(1u, Windriver(L"click 1006 --timeout 200" + Pid()).exitCode);
    ToolRun missing;
    RunWhile([&](HWND dialog) {
        if (!dialog) return;
        missing = Windriver(L"click 4242" + Pid());
        CloseAfterwards(dialog);
    });
    EXPECT_EQ(3u, missing.exitCode) << missing.out;
}

TEST(WindriverTest, BadCommandLinesAreRefused) {
    for (const wchar_t* arguments : {L"", L"frobnicate", L"click", L"click x", L"wait --pid", L"wait --pid -4",
                                     L"wait --timeout 12abc", L"escape 7", L"wait extra"}) {
        const ToolRun run = Windriver(arguments);
        EXPECT_EQ(2u, run.exitCode) << "arguments: " << Utf8(arguments);
    }
}

}  // namespace
