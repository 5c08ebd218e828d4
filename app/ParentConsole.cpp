#include "app/ParentConsole.h"

#include <windows.h>

#include <vector>

#include "common/UniqueHandle.h"

namespace ParentConsole {

namespace {

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != FALSE;
}

bool WriteToConsole(HANDLE console, const std::wstring& text) {
    DWORD written = 0;
    return ::WriteConsoleW(console, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

// A pipe or a file gets the console's code page, as a console program's
// output would be: findstr and PowerShell decode it so.
bool WriteToFile(HANDLE file, const std::wstring& text) {
    UINT codePage = ::GetConsoleOutputCP();
    if (codePage == 0) codePage = ::GetACP();
    const int size = ::WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0) return false;
    std::vector<char> bytes(static_cast<size_t>(size));
    ::WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr) != FALSE &&
           written == static_cast<DWORD>(size);
}

}  // namespace

bool WriteLine(const std::wstring& line) {
    const std::wstring text = line + L"\r\n";
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE) {
        if (IsConsole(output)) return WriteToConsole(output, text);
        if (::GetFileType(output) != FILE_TYPE_UNKNOWN) return WriteToFile(output, text);
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    kv::unique_hfile console(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    const bool written = console && WriteToConsole(console.get(), text);
    console.reset();
    ::FreeConsole();
    return written;
}

}  // namespace ParentConsole
