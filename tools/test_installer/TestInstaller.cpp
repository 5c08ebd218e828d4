// A stand-in for the maker's network installer, for tests and the demo: when
// started it records that it ran (its process id, command line, current
// folder, TEMP and the modules it loaded) in a marker file, and ends with the
// exit code asked for.
//
//   marker: the path in KV_TEST_INSTALLER_MARKER, else "<its own path>.ran"
//   text:   UTF-8, "pid=<decimal>\r\ncommandline=<its command line>\r\n",
//           then "cwd=", "temp=" and one "module=<full path>" line a module
//   hold:   when KV_TEST_INSTALLER_HOLD names an event, it waits (at most
//           60 s) for that event after writing the marker, so that a test can
//           see whether its starter waited for it.
//   exit:   the decimal number in KV_TEST_INSTALLER_EXIT, else 0; 2 when the
//           marker could not be written.
// It imports version.dll (no known DLL, so looked for in its own folder
// first), so that a test can plant one there and see whether it was loaded.
// The marker appears whole: it is written beside its place and moved there.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return (length > 0 && length < 32768) ? std::wstring(value, length) : std::wstring();
}

std::wstring SelfPath() {
    wchar_t self[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, 32768);
    return (length == 0 || length >= 32768) ? std::wstring() : std::wstring(self, length);
}

std::wstring MarkerPath() {
    std::wstring marker = Environment(L"KV_TEST_INSTALLER_MARKER");
    if (!marker.empty()) return marker;
    const std::wstring self = SelfPath();
    return self.empty() ? self : self + L".ran";
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                              nullptr);
    }
    return bytes;
}

std::string LoadedModules() {
    std::string lines;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return lines;
    MODULEENTRY32W module = {};
    module.dwSize = sizeof(module);
    for (BOOL more = ::Module32FirstW(snapshot, &module); more; more = ::Module32NextW(snapshot, &module)) {
        lines += "module=" + Utf8(module.szExePath) + "\r\n";
    }
    ::CloseHandle(snapshot);
    return lines;
}

bool WriteMarker(const std::wstring& path) {
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    const std::string text = "pid=" + std::to_string(::GetCurrentProcessId()) + "\r\ncommandline=" +
                             Utf8(::GetCommandLineW()) + "\r\ncwd=" + Utf8(folder) + "\r\ntemp=" +
                             Utf8(Environment(L"TEMP")) + "\r\n" + LoadedModules();
    const std::wstring partial = path + L".partial";
    HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!ok || written != text.size()) return false;
    return ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The import that a planted version.dll would satisfy.
    DWORD ignored = 0;
    ::GetFileVersionInfoSizeW(SelfPath().c_str(), &ignored);
    const std::wstring marker = MarkerPath();
    if (marker.empty() || !WriteMarker(marker)) return 2;
    const std::wstring hold = Environment(L"KV_TEST_INSTALLER_HOLD");
    if (!hold.empty()) {
        HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, hold.c_str());
        if (event != nullptr) {
            ::WaitForSingleObject(event, 60000);
            ::CloseHandle(event);
        }
    }
    return static_cast<int>(wcstoul(Environment(L"KV_TEST_INSTALLER_EXIT").c_str(), nullptr, 10));
}
