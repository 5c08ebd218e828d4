#include "download/Win32ErrorText.h"

#include <cwchar>

#include "common/LastErrorKeeper.h"

namespace QmtDownload {

Win32ErrorText FormatWin32Error(DWORD error) {
    kv::LastErrorKeeper keeper;
    Win32ErrorText result;
    wchar_t* const text = result.text_;
    const size_t capacity = Win32ErrorText::kCapacity;

    int prefix = _snwprintf(text, capacity, L"[%lu] ", error);
    if (prefix < 0 || static_cast<size_t>(prefix) >= capacity) prefix = 0;
    text[prefix] = L'\0';

    // WinINet's own codes are mostly unknown to the system table; then only
    // the bracketed number remains.
    const DWORD written = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                           error, 0, text + prefix, static_cast<DWORD>(capacity - prefix),
                                           nullptr);
    text[prefix + (written < capacity - prefix ? written : capacity - prefix - 1)] = L'\0';
    for (wchar_t* p = text; *p; ++p) {
        if (*p == L'\r' || *p == L'\n') *p = L' ';
    }
    return result;
}

}  // namespace QmtDownload
