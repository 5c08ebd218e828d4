#include "tests/support/TestDialog.h"

#include <thread>
#include <vector>

#include "tools/dialogdriver/DialogDriver.h"

namespace testdialog {

const wchar_t kCaption[] = L"Pr\u00fcfdialog \u2013 K-Vantor";
const wchar_t kStatus[] = L"Status: \u00e9t\u00e9\r\n\u4e2d\u6587";
const wchar_t kEnabledText[] = L"Upgrade";
const wchar_t kCloseText[] = L"&Close";

namespace {

constexpr UINT_PTR kSafetyTimer = 77;

// DLGTEMPLATE and DLGITEMTEMPLATE records: WORD-aligned strings, each item
// DWORD-aligned.
class TemplateWriter {
public:
    void Word(WORD value) { data_.push_back(value); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(const wchar_t* text) {
        for (; *text; ++text) Word(static_cast<WORD>(*text));
        Word(0);
    }
    void AlignDword() {
        if (data_.size() % 2) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const wchar_t* text) {
        AlignDword();
        Dword(style | WS_CHILD);
        Dword(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_.data()); }

private:
    std::vector<WORD> data_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetTimer(dialog, kSafetyTimer, 20000, nullptr);
            return TRUE;
        case WM_TIMER:
            if (wParam == kSafetyTimer) ::EndDialog(dialog, kSafetyTimeout);
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                ::EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR RunWhile(const std::function<void(HWND)>& drive) {
    TemplateWriter writer;
    writer.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
    writer.Dword(0);
    writer.Word(5);  // items
    writer.Word(0);
    writer.Word(0);
    writer.Word(200);
    writer.Word(90);
    writer.Word(0);  // no menu
    writer.Word(0);  // the standard dialog class
    writer.Text(kCaption);
    writer.Word(8);
    writer.Text(L"MS Shell Dlg");
    writer.Item(WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 66, 56, 14, kEnabledButton, kButtonAtom, kEnabledText);
    writer.Item(WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 72, 66, 56, 14, kDisabledButton, kButtonAtom,
                L"Disabled");
    writer.Item(WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 134, 66, 56, 14, IDCANCEL, kButtonAtom, kCloseText);
    writer.Item(WS_VISIBLE | SS_LEFT, 10, 10, 180, 30, kStatusText, kStaticAtom, kStatus);
    writer.Item(SS_LEFT, 10, 44, 180, 12, kHiddenText, kStaticAtom, L"hidden");

    const DWORD self = ::GetCurrentProcessId();
    std::thread driver([&drive, self] { drive(DialogDriver::WaitForDialog(self, 10000)); });
    const INT_PTR result =
        ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), writer.Get(), nullptr, &Procedure, 0);
    driver.join();
    return result;
}

}  // namespace testdialog
