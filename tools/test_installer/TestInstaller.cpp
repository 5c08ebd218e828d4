// A stand-in for the maker's network installer, for tests and the demo: when
// started it records that it ran (its process id and command line) in a
// marker file, and ends with exit code 0.
//
//   marker: the path in KV_TEST_INSTALLER_MARKER, else "<its own path>.ran"
//   text:   UTF-8, "pid=<decimal>\r\ncommandline=<its command line>\r\n"
//   hold:   when KV_TEST_INSTALLER_HOLD names an event, it waits (at most
//           60 s) for that event after writing the marker, so that a test can
//           see that its starter did not wait for it.
// The marker appears whole: it is written beside its place and moved there.
#include <windows.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return (length > 0 && length < 32768) ? std::wstring(value, length) : std::wstring();
}

std::wstring MarkerPath() {
    std::wstring marker = Environment(L"KV_TEST_INSTALLER_MARKER");
    if (!marker.empty()) return marker;
    wchar_t self[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, 32768);
    if (length == 0 || length >= 32768) return std::wstring();
    return std::wstring(self, length) + L".ran";
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

bool WriteMarker(const std::wstring& path) {
    const std::string text = "pid=" + std::to_string(::GetCurrentProcessId()) + "\r\ncommandline=" +
                             Utf8(::GetCommandLineW()) + "\r\n";
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
    return 0;
}
