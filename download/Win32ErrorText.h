#pragma once
// The text that every download message shows for a Win32 or WinINet error:
// "[code] " followed by the system's message for it, on one line.
#include <windows.h>

namespace QmtDownload {

class Win32ErrorText {
public:
    static constexpr size_t kCapacity = 1024;
    const wchar_t* c_str() const { return text_; }

private:
    friend Win32ErrorText FormatWin32Error(DWORD error);
    wchar_t text_[kCapacity] = {};
};

// Keeps the thread's last-error value, so callers may format and then read it.
Win32ErrorText FormatWin32Error(DWORD error);

}  // namespace QmtDownload
