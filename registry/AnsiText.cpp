#include "registry/AnsiText.h"

#include <windows.h>

#include <climits>
#include <vector>

std::wstring AnsiToWide(const std::string& text) {
    if (text.empty() || text.size() >= static_cast<size_t>(INT_MAX)) return std::wstring();
    // The terminating zero is converted too, so that an embedded zero ends the text.
    const int inputLength = static_cast<int>(text.size()) + 1;
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), inputLength, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, text.c_str(), inputLength, buffer.data(), needed) <= 0) {
        return std::wstring();
    }
    return std::wstring(buffer.data());
}

std::string WideToAnsi(const std::wstring& text) {
    if (text.empty() || text.size() >= static_cast<size_t>(INT_MAX)) return std::string();
    const int inputLength = static_cast<int>(text.size()) + 1;
    const int needed =
        ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), inputLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(needed) + 1, '\0');
    if (::WideCharToMultiByte(CP_ACP, 0, text.c_str(), inputLength, buffer.data(), needed, nullptr,
                              nullptr) <= 0) {
        return std::string();
    }
    return std::string(buffer.data());
}
