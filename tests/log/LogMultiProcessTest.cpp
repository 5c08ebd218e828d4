// Several processes append to one log that rotates while they write.
#include <gtest/gtest.h>

#include <cwchar>
#include <iostream>
#include <algorithm>
#include <map>
#include <vector>

#include "log/LogNames.h"
#include "tests/log/LoggerFixture.h"

using namespace KvQmtLogging;
using namespace LogTest;

namespace {

std::wstring BesideThisProgram(const wchar_t* file) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.rfind(L'\\') + 1) + file;
}

std::wstring WriterCommandLine(const std::wstring& component, int writer, int lines, const std::wstring& eventName) {
    return L"\"" + BesideThisProgram(L"log_stress_writer.exe") + L"\" " + component + L" " +
           LoggerFixture::kLogName + L" " + std::to_wstring(writer) + L" " + std::to_wstring(lines) + L" " + eventName;
}

bool StartWriter(std::wstring commandLine, DWORD flags, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    process = {};
    return CreateProcessW(BesideThisProgram(L"log_stress_writer.exe").c_str(), &commandLine[0], nullptr, nullptr,
                          FALSE, flags, nullptr, nullptr, &startup, &process) != FALSE;
}

// Runs a writer under this process as its debugger and gathers what it
// passes to OutputDebugString.
std::vector<std::wstring> DebugOutputOfWriter(const std::wstring& component, int lines, const std::wstring& eventName) {
    std::vector<std::wstring> output;
    PROCESS_INFORMATION process;
    if (!StartWriter(WriterCommandLine(component, 0, lines, eventName), DEBUG_ONLY_THIS_PROCESS, process)) {
        ADD_FAILURE() << "CreateProcessW " << GetLastError();
        return output;
    }
    bool running = true;
    while (running) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 60000)) {
            ADD_FAILURE() << "no debug event";
            TerminateProcess(process.hProcess, 1);
            break;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT: {
                const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
                std::vector<char> raw(info.nDebugStringLength * (info.fUnicode ? 2 : 1) + 2, 0);
                SIZE_T read = 0;
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, raw.data(), raw.size() - 2, &read);
                if (info.fUnicode) {
                    output.emplace_back(reinterpret_cast<const wchar_t*>(raw.data()));
                } else {
                    std::string narrow(raw.data());
                    output.emplace_back(narrow.begin(), narrow.end());
                }
                break;
            }
            case CREATE_PROCESS_DEBUG_EVENT:
                if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                running = false;
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return output;
}

struct WriterLine {
    int writer;
    int line;
};

bool ParseWriterLine(const std::wstring& message, WriterLine& parsed) {
    wchar_t padding[64] = {};
    return swscanf(message.c_str(), L"Stress::Writer: writer %d line %d %63ls", &parsed.writer, &parsed.line,
                   padding) == 3;
}

}  // namespace

TEST_F(LoggerFixture, ProcessesShareOneRotatingLogWithoutTornOrMisplacedLines) {
    const int kWriters = 4;
    const int kLines = 300;
    const DWORD kMaxSize = 8 * 1024;
    ScopedRegistryValue size(SettingsKey(component_), L"LogMaxSizeKB", kMaxSize / 1024);
    ScopedRegistryValue count(SettingsKey(component_), L"LogRotateCount", 99u);

    const std::wstring eventName = L"Local\\KvLogStressStart_" + component_;
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(nullptr, start);
    std::vector<PROCESS_INFORMATION> writers;
    for (int w = 0; w < kWriters; ++w) {
        PROCESS_INFORMATION process;
        ASSERT_TRUE(StartWriter(WriterCommandLine(component_, w, kLines, eventName), 0, process)) << GetLastError();
        writers.push_back(process);
    }
    // Let every writer reach its wait before the race starts.
    Sleep(500);
    SetEvent(start);
    for (const PROCESS_INFORMATION& process : writers) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        EXPECT_EQ(0u, exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(start);

    // Oldest first: X.<n>.log ... X.1.log, X.log.
    std::vector<std::wstring> files;
    for (unsigned i = 99; i >= 1; --i) {
        if (FileExists(RotatedName(LogPath(), i))) files.push_back(RotatedName(LogPath(), i));
    }
    files.push_back(LogPath());
    EXPECT_FALSE(FileExists(RotatedName(LogPath(), 99))) << "rotations must not have reached the count";
    EXPECT_GT(files.size(), 5u) << "the run must rotate several times";

    std::map<int, int> lastLine;
    std::map<int, int> found;
    for (size_t f = 0; f < files.size(); ++f) {
        const std::vector<std::wstring> lines = ReadLogLines(files[f]);
        size_t bytes = 2;
        for (const std::wstring& line : lines) {
            bytes += line.size() * 2;
            if (line == L"\r\n") continue;
            ASSERT_TRUE(IsWellFormedLine(line)) << "torn line in " << f << ": " << std::string(line.begin(), line.end());
            WriterLine parsed;
            if (!ParseWriterLine(MessageOf(line), parsed)) continue;
            ASSERT_TRUE(parsed.writer >= 0 && parsed.writer < kWriters);
            auto last = lastLine.find(parsed.writer);
            // Every writer's lines, read oldest file first, stand in the order
            // written: a line in an older file after a newer one would mean a
            // writer kept appending to a rotated file.
            if (last != lastLine.end()) {
                ASSERT_LT(last->second, parsed.line) << "writer " << parsed.writer;
            }
            lastLine[parsed.writer] = parsed.line;
            ++found[parsed.writer];
        }
        // A line is written only into a file within the limit, so a rotated
        // file exceeds it by its last line at most.
        if (f + 1 < files.size() && !lines.empty()) {
            EXPECT_LE(bytes - lines.back().size() * 2, kMaxSize) << "appended to after it was full: file " << f;
        }
    }
    int dropped = 0;
    for (int w = 0; w < kWriters; ++w) dropped += kLines - found[w];
    std::cout << "lines written " << kWriters * kLines << ", found " << kWriters * kLines - dropped << ", dropped by the "
              << "mutex wait " << dropped << ", files " << files.size() << std::endl;
    RecordProperty("dropped", dropped);
    // A line may be lost by design when the mutex is not had within 500 ms;
    // on an idle machine that must stay rare.
    EXPECT_LE(dropped, kWriters * kLines / 100);
}

TEST_F(LoggerFixture, DebugOutputSettingMirrorsEveryWrittenLine) {
    const std::wstring eventName = L"Local\\KvLogDebugStart_" + component_;
    HANDLE start = CreateEventW(nullptr, TRUE, TRUE, eventName.c_str());
    ASSERT_NE(nullptr, start);
    std::vector<std::wstring> silent = DebugOutputOfWriter(component_, 3, eventName);
    ScopedRegistryValue mirror(SettingsKey(component_, kLogName), L"DebugOutputLogging", 1u);
    std::vector<std::wstring> mirrored = DebugOutputOfWriter(component_, 3, eventName);
    CloseHandle(start);

    auto linesOf = [](const std::vector<std::wstring>& output) {
        std::vector<std::wstring> lines;
        for (const std::wstring& text : output) {
            if (text.find(L"Stress::Writer: writer 0 line ") != std::wstring::npos) lines.push_back(text);
        }
        return lines;
    };
    EXPECT_TRUE(linesOf(silent).empty());
    const std::vector<std::wstring> lines = linesOf(mirrored);
    ASSERT_EQ(3u, lines.size());
    for (const std::wstring& line : lines) EXPECT_TRUE(IsWellFormedLine(line)) << std::string(line.begin(), line.end());
    // The file gets the same lines.
    int inFile = 0;
    for (const std::wstring& line : ReadLogLines(LogPath())) inFile += std::count(lines.begin(), lines.end(), line);
    EXPECT_EQ(3, inFile);
}
