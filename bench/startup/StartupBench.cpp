// Time from CreateProcess until the first visible window, for the program on
// the up-to-date road and for a minimal dialog program of the same toolchain,
// alternately, after one warm-up run of each:
//   startup_bench.exe [runs of each, default 15]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestRegistry.h"

namespace {

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !::IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the program's first window shows, or a negative value
// when it showed none within 20 s. The window is then closed with its Close
// button's command, and the program waited for.
double TimeToFirstWindow(const std::wstring& path) {
    std::wstring commandLine = L"\"" + path + L"\" --lang en";
    commandLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER start, shown;
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::fwprintf(stderr, L"CreateProcessW(%ls) failed: %lu\n", path.c_str(), ::GetLastError());
        return -1;
    }
    kv::unique_handle processHandle(process.hProcess);
    kv::unique_handle threadHandle(process.hThread);
    WindowSearch search{process.dwProcessId, nullptr};
    for (int polls = 0; search.found == nullptr && polls < 20000; ++polls) {
        ::EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) ::Sleep(1);
    }
    ::QueryPerformanceCounter(&shown);
    if (search.found != nullptr) ::PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (::WaitForSingleObject(processHandle.get(), 10000) != WAIT_OBJECT_0) {
        ::TerminateProcess(processHandle.get(), 1);
        ::WaitForSingleObject(processHandle.get(), 5000);
    }
    return search.found != nullptr ? Milliseconds(start, shown) : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    const std::wstring tool = testsupport::WindowsPath(KV_UPGRADE_TOOL_PATH);
    const std::wstring minimal = testsupport::WindowsPath(KV_MINIMAL_DIALOG_PATH);

    testsupport::RemoveProductState();
    testsupport::SeedProduct(L"1.71.0", true);
    TimeToFirstWindow(minimal);
    TimeToFirstWindow(tool);
    std::vector<double> toolTimes, minimalTimes;
    for (int run = 0; run < runs; ++run) {
        const double m = TimeToFirstWindow(minimal);
        const double t = TimeToFirstWindow(tool);
        if (m < 0 || t < 0) {
            std::fwprintf(stderr, L"a program showed no window\n");
            testsupport::RemoveProductState();
            return 1;
        }
        minimalTimes.push_back(m);
        toolTimes.push_back(t);
    }
    testsupport::RemoveProductState();

    const double toolMedian = Median(toolTimes);
    const double minimalMedian = Median(minimalTimes);
    std::wprintf(L"start until the first window, median of %d runs each:\n", runs);
    std::wprintf(L"  minimal dialog program  %8.1f ms (fastest %.1f)\n", minimalMedian,
                 *std::min_element(minimalTimes.begin(), minimalTimes.end()));
    std::wprintf(L"  upgrade tool, up to date %7.1f ms (fastest %.1f)\n", toolMedian,
                 *std::min_element(toolTimes.begin(), toolTimes.end()));
    std::wprintf(L"  ratio                   %8.2f\n", toolMedian / minimalMedian);
    return 0;
}
