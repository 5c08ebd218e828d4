// Throughput of the shared log writer beside plain WriteFile appends of the
// same bytes under the same mutex, in one process and in four at once, and the
// cost of a call whose level is not enabled.
//   log_bench [lines]                      the whole benchmark
//   log_bench worker <mode> <component> <lines> <event>   one writer process
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"
#include "log/Logger.h"
#include "log/LogNames.h"
#include "log/LogSettings.h"

using namespace KvQmtLogging;

namespace {

const wchar_t kLogName[] = L"bench";
const wchar_t kFunction[] = L"Bench::Line";

double Seconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring LogPath(const std::wstring& component) {
    std::wstring path;
    BuildLogPath(component.c_str(), kLogName, path);
    return path;
}

std::wstring BaselinePath(const std::wstring& component) { return LogPath(component) + L".baseline"; }

// The same bytes the logger writes for line i (the time differs, not the length).
std::wstring LineText(int i) {
    wchar_t message[160];
    _snwprintf(message, 160, L"2013-05-14 09:31:07.042 [%04lx.%04lx]  I: %s: line %d of the benchmark run\r\n",
               GetCurrentProcessId(), GetCurrentThreadId(), kFunction, i);
    message[159] = L'\0';
    return message;
}

void LogLines(int lines) {
    for (int i = 0; i < lines; ++i) LogMessage(LogInfo, L"%s: line %d of the benchmark run", kFunction, i);
}

// What the shared writer does at the least: wait, seek to the end, write, release.
void BaselineLines(const std::wstring& component, int lines) {
    kv::unique_handle mutex(CreateMutexW(nullptr, FALSE, MakeLogMutexName(LogPath(component)).c_str()));
    kv::unique_hfile file(CreateFileW(BaselinePath(component).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    for (int i = 0; i < lines; ++i) {
        const std::wstring line = LineText(i);
        WaitForSingleObject(mutex.get(), 500);
        LARGE_INTEGER zero{};
        SetFilePointerEx(file.get(), zero, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size() * 2), &written, nullptr);
        ReleaseMutex(mutex.get());
    }
}

void SetSetting(const std::wstring& component, const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    const std::wstring keyName = std::wstring(kLoggingSettingsKey) + L"\\" + component;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }
}

void RemoveSettings(const std::wstring& component) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kLoggingSettingsKey) + L"\\" + component).c_str());
}

int Worker(const std::wstring& mode, const std::wstring& component, int lines, const wchar_t* eventName) {
    if (mode == L"log") GetLogger().Configure(0, component.c_str(), kLogName);
    kv::unique_handle start(OpenEventW(SYNCHRONIZE, FALSE, eventName));
    if (!start || WaitForSingleObject(start.get(), 30000) != WAIT_OBJECT_0) return 3;
    if (mode == L"log") {
        LogLines(lines);
    } else {
        BaselineLines(component, lines);
    }
    return 0;
}

// Four copies of this program writing at once; the time from the start signal
// until the last one has ended.
double RunProcesses(const std::wstring& mode, const std::wstring& component, int lines) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring eventName = L"Local\\KvLogBench_" + component + L"_" + mode;
    kv::unique_handle start(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    std::vector<kv::unique_handle> processes;
    for (int w = 0; w < 4; ++w) {
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" worker " + mode + L" " + component + L" " +
                                   std::to_wstring(lines) + L" " + eventName;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            return -1;
        }
        CloseHandle(info.hThread);
        processes.emplace_back(info.hProcess);
    }
    Sleep(1000);  // every worker is at its wait
    const double begin = Seconds();
    SetEvent(start.get());
    for (auto& process : processes) WaitForSingleObject(process.get(), INFINITE);
    return Seconds() - begin;
}

void PrintPair(const char* what, int lines, double logSeconds, double baselineSeconds) {
    const double logRate = lines / logSeconds;
    const double baseRate = lines / baselineSeconds;
    std::printf("%-34s LogMessage %9.0f lines/s   WriteFile baseline %9.0f lines/s   ratio %.2f\n", what, logRate,
                baseRate, logRate / baseRate);
}

int Benchmark(int lines) {
    const std::wstring component = L"Bench_" + std::to_wstring(GetCurrentProcessId());
    // No rotation during the run: the figures are those of appending.
    SetSetting(component, L"LogMaxSizeKB", 1024 * 1024);
    GetLogger().Configure(0, component.c_str(), kLogName);

    double begin = Seconds();
    LogLines(lines);
    const double logSeconds = Seconds() - begin;
    begin = Seconds();
    BaselineLines(component, lines);
    const double baselineSeconds = Seconds() - begin;
    PrintPair("one process:", lines, logSeconds, baselineSeconds);

    const int perProcess = lines / 4;
    const double logFour = RunProcesses(L"log", component, perProcess);
    const double baselineFour = RunProcesses(L"baseline", component, perProcess);
    PrintPair("four processes, one file:", perProcess * 4, logFour, baselineFour);

    const int disabledCalls = 20000000;
    begin = Seconds();
    for (int i = 0; i < disabledCalls; ++i) LogMessage(LogVerbose, L"%s: not written %d", kFunction, i);
    const double disabledSeconds = Seconds() - begin;
    std::printf("%-34s %.2f ns per call (%d calls)\n", "call above the configured level:",
                disabledSeconds * 1e9 / disabledCalls, disabledCalls);

    GetLogger().EndLog();
    DeleteFileW(BaselinePath(component).c_str());
    DeleteFileW(LogPath(component).c_str());
    RemoveDirectoryW(LogPath(component).substr(0, LogPath(component).rfind(L'\\')).c_str());
    RemoveSettings(component);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && std::wstring(argv[1]) == L"worker") return Worker(argv[2], argv[3], _wtoi(argv[4]), argv[5]);
    const int lines = argc > 1 ? _wtoi(argv[1]) : 20000;
    return Benchmark(lines > 0 ? lines : 20000);
}
