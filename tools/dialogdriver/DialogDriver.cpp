#include "tools/dialogdriver/DialogDriver.h"

#include <atomic>
#include <cstdlib>
#include <vector>

namespace DialogDriver {

namespace {

constexpr DWORD kPollMs = 50;
// Long enough for a busy test machine, short enough that a hung dialog
// thread cannot stall a test for good.
constexpr UINT kSendTimeoutMs = 3000;

std::atomic<InputMethod> g_preferred{InputMethod::RealInput};
std::atomic<InputMethod> g_last{InputMethod::None};

InputMethod Record(InputMethod method) {
    g_last = method;
    return method;
}

bool IsDialogWindow(HWND window) {
    wchar_t className[16] = {};
    if (!::GetClassNameW(window, className, 16)) return false;
    return ::lstrcmpW(className, L"#32770") == 0;
}

struct FindContext {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM param) {
    auto* context = reinterpret_cast<FindContext*>(param);
    if (!::IsWindowVisible(window) || !::IsWindowEnabled(window) || !IsDialogWindow(window)) return TRUE;
    if (context->processId != 0) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != context->processId) return TRUE;
    }
    context->found = window;
    return FALSE;
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs,
                                 result) != 0;
}

POINT Centre(const RECT& rect) { return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

bool OnVirtualScreen(POINT point) {
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    return point.x >= left && point.y >= top && point.x < left + width && point.y < top + height;
}

// The dialog on top of the others and, where the system allows it, the
// foreground window, so that real input lands in it.
bool BringToFront(HWND dialog) {
    if (::GetForegroundWindow() == dialog) return true;
    ::SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(dialog);
    for (DWORD waited = 0; waited < 500; waited += 10) {
        if (::GetForegroundWindow() == dialog) return true;
        ::Sleep(10);
    }
    return false;
}

bool CursorAt(POINT target) {
    POINT now{};
    if (!::GetCursorPos(&now)) return false;
    return std::abs(now.x - target.x) <= 1 && std::abs(now.y - target.y) <= 1;
}

bool MoveCursorTo(POINT target) {
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width < 2 || height < 2) return false;
    INPUT move{};
    move.type = INPUT_MOUSE;
    // Absolute coordinates are normalised to 0..65535 across the virtual desktop;
    // the half-pixel offset keeps the rounding on the target pixel.
    move.mi.dx = static_cast<LONG>(((target.x - left) * 65536LL + 32768) / width);
    move.mi.dy = static_cast<LONG>(((target.y - top) * 65536LL + 32768) / height);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    if (::SendInput(1, &move, sizeof(INPUT)) != 1) return false;
    for (DWORD waited = 0; waited < 500; waited += 10) {
        if (CursorAt(target)) return true;
        ::Sleep(10);
    }
    return false;
}

bool SendLeftClick() {
    INPUT press[2] = {};
    press[0].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].type = INPUT_MOUSE;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    if (::SendInput(1, &press[0], sizeof(INPUT)) != 1) return false;
    // A person's click lasts a moment; buttons track the press in between.
    ::Sleep(30);
    return ::SendInput(1, &press[1], sizeof(INPUT)) == 1;
}

// Whether a click at the point reaches the expected window of the dialog:
// the control itself, or the dialog where a disabled control lets the click
// fall through to its parent.
bool PointReaches(HWND dialog, HWND expected, POINT point) {
    const HWND hit = ::WindowFromPoint(point);
    if (!hit || ::GetAncestor(hit, GA_ROOT) != dialog) return false;
    return hit == expected || hit == dialog;
}

// A real click at the point, after bringing the dialog up and checking that
// nothing covers the point.
bool RealClickAt(HWND dialog, HWND expected, POINT point) {
    if (g_preferred == InputMethod::Messages || !OnVirtualScreen(point)) return false;
    BringToFront(dialog);
    if (!PointReaches(dialog, expected, point)) return false;
    if (!MoveCursorTo(point)) return false;
    return SendLeftClick();
}

UINT ScanCode(UINT virtualKey) { return ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC); }

bool RealKeyPress(HWND dialog, WORD virtualKey) {
    if (g_preferred == InputMethod::Messages) return false;
    // Keyboard input goes to the foreground window's focus; without the
    // foreground it would land elsewhere.
    if (!BringToFront(dialog)) return false;
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = virtualKey;
        key.ki.wScan = static_cast<WORD>(ScanCode(virtualKey));
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    if (::SendInput(1, &keys[0], sizeof(INPUT)) != 1) return false;
    ::Sleep(20);
    return ::SendInput(1, &keys[1], sizeof(INPUT)) == 1;
}

// The window of the dialog that has the keyboard focus, else the dialog.
HWND FocusWithin(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = ::GetWindowThreadProcessId(dialog, nullptr);
    if (thread && ::GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || ::IsChild(dialog, info.hwndFocus))) {
        return info.hwndFocus;
    }
    return dialog;
}

// The screen point of the caption's close box, found by asking the window's
// own hit test along the caption, so that themes and frame sizes do not matter.
bool FindCloseBox(HWND dialog, POINT* point) {
    RECT window{};
    if (!::GetWindowRect(dialog, &window)) return false;
    const int captionBottom = window.top + ::GetSystemMetrics(SM_CYFRAME) + ::GetSystemMetrics(SM_CYCAPTION) + 4;
    for (int y = window.top + 2; y < captionBottom && y < window.bottom; y += 2) {
        int first = -1;
        int last = -1;
        for (int x = window.right - 1; x > window.left && x > window.right - 120; --x) {
            DWORD_PTR hit = HTNOWHERE;
            if (!SendWithTimeout(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y), &hit)) return false;
            if (hit == HTCLOSE) {
                if (last < 0) last = x;
                first = x;
            } else if (last >= 0) {
                break;
            }
        }
        if (last >= 0) {
            // Down the box's middle column to its lower edge, then to its centre.
            const int x = (first + last) / 2;
            int bottom = y;
            DWORD_PTR below = HTNOWHERE;
            while (bottom + 1 < captionBottom &&
                   SendWithTimeout(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, bottom + 1), &below) && below == HTCLOSE) {
                ++bottom;
            }
            *point = POINT{x, (y + bottom) / 2};
            return true;
        }
    }
    return false;
}

bool UnderWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

bool KeyIsEmpty(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 1;
    DWORD values = 1;
    const LONG status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                           nullptr, nullptr, nullptr, nullptr);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

const wchar_t kDecorated[] = L"Decorated";

}  // namespace

WineDrawsOwnCaption::WineDrawsOwnCaption() {
    if (!UnderWine()) return;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; ++c) {
        if (*c == L'\\' || *c == L'/') name = c + 1;
    }
    const std::wstring appKey = std::wstring(L"Software\\Wine\\AppDefaults\\") + name;
    const std::wstring driverKey = appKey + L"\\X11 Driver";
    // A setting that someone else made stays as it is, and stays after us.
    if (::RegGetValueW(HKEY_CURRENT_USER, driverKey.c_str(), kDecorated, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS) {
        return;
    }
    if (::RegSetKeyValueW(HKEY_CURRENT_USER, driverKey.c_str(), kDecorated, REG_SZ, L"N", 2 * sizeof(wchar_t)) ==
        ERROR_SUCCESS) {
        key_ = driverKey;
        appKey_ = appKey;
    }
}

WineDrawsOwnCaption::~WineDrawsOwnCaption() {
    if (key_.empty()) return;
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), kDecorated);
    if (KeyIsEmpty(key_)) ::RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
    if (KeyIsEmpty(appKey_)) ::RegDeleteKeyW(HKEY_CURRENT_USER, appKey_.c_str());
}

void SetPreferredInputMethod(InputMethod method) {
    g_preferred = method == InputMethod::Messages ? InputMethod::Messages : InputMethod::RealInput;
}

InputMethod LastInputMethod() { return g_last; }

HWND FindDialog(DWORD processId) {
    FindContext context{processId, nullptr};
    ::EnumWindows(&FindDialogProc, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

HWND WaitForDialog(DWORD processId, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND found = FindDialog(processId)) return found;
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(kPollMs);
    }
}

std::wstring WindowText(HWND window) {
    if (!window || !::IsWindow(window)) return std::wstring();
    // WM_GETTEXT rather than GetWindowTextW: the latter does not ask windows
    // of other processes, and the controls' texts are what the user sees.
    DWORD_PTR length = 0;
    if (!SendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, &length)) return std::wstring();
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendWithTimeout(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &copied)) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

std::wstring ItemText(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    return item ? WindowText(item) : std::wstring();
}

bool ItemEnabled(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    return item && ::IsWindowEnabled(item);
}

bool ItemVisible(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    return item && ::IsWindowVisible(item);
}

bool Click(HWND dialog, int id) {
    Record(InputMethod::None);
    HWND button = ::GetDlgItem(dialog, id);
    if (!button || !::IsWindowVisible(button)) return false;
    RECT rect{};
    if (!::GetWindowRect(button, &rect)) return false;
    if (RealClickAt(dialog, button, Centre(rect))) {
        Record(InputMethod::RealInput);
        return true;
    }
    // Fallback: the notification that a click on the button sends its
    // dialog. A disabled button (or a disabled dialog) sends none, so nothing
    // is posted for it, just as a person's click would achieve nothing.
    Record(InputMethod::Messages);
    if (::IsWindowEnabled(button) && ::IsWindowEnabled(dialog)) {
        return ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != 0;
    }
    return true;
}

bool PressEscape(HWND dialog) {
    Record(InputMethod::None);
    if (!dialog || !::IsWindow(dialog)) return false;
    if (RealKeyPress(dialog, VK_ESCAPE)) {
        Record(InputMethod::RealInput);
        return true;
    }
    // Fallback: the key messages posted to the focused control. The modal loop
    // hands them to IsDialogMessage, which turns Escape into IDCANCEL exactly
    // as for a typed key.
    Record(InputMethod::Messages);
    HWND target = FocusWithin(dialog);
    const LPARAM scan = static_cast<LPARAM>(ScanCode(VK_ESCAPE)) << 16;
    const bool down = ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, scan | 1) != 0;
    const bool up = ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, scan | 1 | (1L << 30) | (1UL << 31)) != 0;
    return down && up;
}

bool PressCloseBox(HWND dialog) {
    Record(InputMethod::None);
    if (!dialog || !::IsWindow(dialog)) return false;
    POINT box{};
    const bool found = FindCloseBox(dialog, &box);
    if (found && RealClickAt(dialog, dialog, box)) {
        Record(InputMethod::RealInput);
        return true;
    }
    // Fallback: the command that the close box sends when it is released over
    // it. The default dialog procedure turns it into WM_CLOSE and that into
    // the IDCANCEL command.
    Record(InputMethod::Messages);
    const LPARAM at = found ? MAKELPARAM(box.x, box.y) : 0;
    return ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, at) != 0;
}

bool WaitForClose(HWND window, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (!::IsWindow(window) || !::IsWindowVisible(window)) return true;
        if (::GetTickCount64() >= deadline) return false;
        const ULONGLONG left = deadline - ::GetTickCount64();
        ::Sleep(left < kPollMs ? static_cast<DWORD>(left) + 1 : kPollMs);
    }
}

}  // namespace DialogDriver
