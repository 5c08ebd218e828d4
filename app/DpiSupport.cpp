#include "app/DpiSupport.h"

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

// DDC_DISABLE_ALL and MDT_EFFECTIVE_DPI, which older SDK headers lack.
constexpr int kDialogScalingDisableAll = 1;
constexpr int kEffectiveDpi = 0;

template <typename Fn>
Fn User32Entry(const char* name) {
    // user32 is loaded for the whole life of every windowed process.
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

// Windows 8.1 tells a monitor's DPI only through the shell's scaling
// library, taken from the system folder and kept for the process's life.
GetDpiForMonitorFn MonitorDpiEntry() {
    static const GetDpiForMonitorFn entry = [] {
        const HMODULE shcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return shcore ? reinterpret_cast<GetDpiForMonitorFn>(
                            reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")))
                      : nullptr;
    }();
    return entry;
}

UINT SystemDpi() {
    const HDC screen = ::GetDC(nullptr);
    if (!screen) return DpiSupport::kReferenceDpi;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : DpiSupport::kReferenceDpi;
}

}  // namespace

namespace DpiSupport {

UINT ForWindow(HWND window) {
    static const auto getDpiForWindow = User32Entry<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && window) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    if (window && !getDpiForWindow) {
        if (const GetDpiForMonitorFn getDpiForMonitor = MonitorDpiEntry()) {
            UINT x = 0, y = 0;
            const HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
            if (SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) && y != 0) return y;
        }
    }
    return SystemDpi();
}

int Scale(int pixelsAtReference, UINT dpi) {
    return ::MulDiv(pixelsAtReference, static_cast<int>(dpi), static_cast<int>(kReferenceDpi));
}

bool AdjustWindowRect(RECT* rect, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto adjustForDpi = User32Entry<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (adjustForDpi) return adjustForDpi(rect, style, FALSE, exStyle, dpi) != FALSE;
    return ::AdjustWindowRectEx(rect, style, FALSE, exStyle) != FALSE;
}

void TakeOverDialogScaling(HWND dialog) {
    static const auto setBehavior = User32Entry<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
    if (setBehavior) setBehavior(dialog, kDialogScalingDisableAll, kDialogScalingDisableAll);
}

}  // namespace DpiSupport
