#pragma once
// Runs the real upgrade_tool.exe as an administrator would: its windows are
// answered in turn by a WindowWatcher, and what it logged during the run is
// kept with its exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestLog.h"
#include "tests/support/WindowWatcher.h"

namespace testsupport {

inline std::wstring ToolPath() { return WindowsPath(KV_UPGRADE_TOOL_PATH); }

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;
    std::wstring log;
    std::vector<SeenWindow> windows;
    std::string output;  // its standard output, when it was asked for
};

// Runs a build of the tool; each window it shows is answered in turn (Close
// when the list runs out).
inline ToolRun RunToolAt(const std::wstring& tool, const std::wstring& arguments, std::vector<Answer> answers,
                         DWORD timeoutMs, bool captureOutput = false) {
    const testsupport::LogMark mark(L"OvSA", L"dc_upgrade_tool");
    std::wstring commandLine = L"\"" + tool + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Standard output into a pipe, as "upgrade_tool.exe ... | findstr" gives it.
    kv::unique_handle outputRead, outputWrite;
    if (captureOutput) {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        EXPECT_TRUE(::CreatePipe(outputRead.put(), outputWrite.put(), &inheritable, 65536));
        ::SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = outputWrite.get();
    }
    PROCESS_INFORMATION process{};
    ToolRun run;
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, captureOutput ? TRUE : FALSE, 0, nullptr,
                          nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return run;
    }
    kv::unique_handle processHandle(process.hProcess);
    kv::unique_handle threadHandle(process.hThread);
    testsupport::WindowWatcher person(process.dwProcessId, std::move(answers));
    if (::WaitForSingleObject(processHandle.get(), timeoutMs) == WAIT_OBJECT_0) {
        run.finished = true;
        ::GetExitCodeProcess(processHandle.get(), &run.exitCode);
    } else {
        ::TerminateProcess(processHandle.get(), 1);
        ::WaitForSingleObject(processHandle.get(), 5000);
    }
    person.Stop();
    outputWrite.reset();
    char chunk[4096];
    DWORD read = 0;
    while (outputRead && ::ReadFile(outputRead.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        run.output.append(chunk, read);
    }
    run.windows = person.Windows();
    run.log = mark.NewText();
    return run;
}

// The same for the tool as it ships.
inline ToolRun RunTool(const std::wstring& arguments = L"", std::vector<Answer> answers = {}, DWORD timeoutMs = 30000,
                       bool captureOutput = false) {
    return RunToolAt(ToolPath(), arguments, std::move(answers), timeoutMs, captureOutput);
}

}  // namespace testsupport
