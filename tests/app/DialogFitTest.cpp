// Every window of the tool in every language at 96, 144 and 192 DPI: each
// text fits its control in the control's font, each control lies in the
// client area, the banner and the band span the width. Wine reads the DPI
// (the user's LogPixels) once, when a process starts, so the test runs this
// program again once per DPI to look at the windows. One screenshot a
// window, language and DPI stays in fit-screenshots beside this program.
#include <gtest/gtest.h>

#include <process.h>
#include <windows.h>

#include <string>

#include "app/DpiSupport.h"
#include "app/HelpDialog.h"
#include "app/UpgradeDialog.h"
#include "common/UniqueHandle.h"
#include "localization/CustLoc.h"
#include "tools/dialogdriver/DialogDriver.h"

namespace {

const wchar_t kDpiVariable[] = L"KV_FIT_DPI";
constexpr UINT_PTR kProbeTimerId = 77;
struct Window {
    const wchar_t* name;
    const wchar_t* messageKey;  // null for the help window
    bool upgradeOffered;
    bool waitMode;
} const kWindows[] = {{L"uptodate", L"UpToDate", false, false},    {L"available", L"UpgradeAvailable", true, false},
                      {L"inprogress", L"UpgradingPleaseWait", false, false}, {L"failed", L"UpgradeFailed", false, false},
                      {L"pleasewait", L"PleaseWait", false, true}, {L"help", nullptr, false, false}};

std::wstring ShotFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path).substr(0, std::wstring(path).find_last_of(L'\\')) + L"\\fit-screenshots";
}

RECT RectIn(HWND dialog, HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void CheckBanner(HWND dialog, UINT dpi, const std::wstring& where) {
    const RECT banner = RectIn(dialog, ::GetDlgItem(dialog, UpgradeDialog::IDC_BANNER));
    const RECT band = RectIn(dialog, ::GetDlgItem(dialog, UpgradeDialog::IDC_WHITE_BAND));
    const RECT status = RectIn(dialog, ::GetDlgItem(dialog, UpgradeDialog::IDC_STATUS_TEXT));
    EXPECT_EQ(banner.bottom, band.top) << where;
    EXPECT_TRUE(status.top >= band.top && status.bottom <= band.bottom) << where << ": text off the band";
    BITMAP picture{};
    ::GetObjectW(reinterpret_cast<HBITMAP>(::SendDlgItemMessageW(dialog, UpgradeDialog::IDC_BANNER, STM_GETIMAGE,
                                                                  IMAGE_BITMAP, 0)),
                 sizeof(picture), &picture);
    EXPECT_TRUE(picture.bmWidth == banner.right - banner.left && picture.bmHeight == banner.bottom - banner.top)
        << where << ": banner picture " << picture.bmWidth << " x " << picture.bmHeight;
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(
                     ::SendDlgItemMessageW(dialog, UpgradeDialog::IDC_STATUS_TEXT, WM_GETFONT, 0, 0)),
                 sizeof(font), &font);
    EXPECT_EQ(DpiSupport::Scale(14, dpi), font.lfHeight) << where;
}

void CheckControls(HWND dialog, UINT dpi, const std::wstring& where, bool hasBanner) {
    if (hasBanner) CheckBanner(dialog, dpi, where);
    RECT client{};
    ::GetClientRect(dialog, &client);
    for (HWND control = ::GetWindow(dialog, GW_CHILD); control; control = ::GetWindow(control, GW_HWNDNEXT)) {
        const int id = ::GetDlgCtrlID(control);
        const RECT rect = RectIn(dialog, control);
        if (id == UpgradeDialog::IDC_BANNER || id == UpgradeDialog::IDC_WHITE_BAND) {
            EXPECT_TRUE(rect.left <= 0 && rect.right >= client.right) << where << ": " << id << " short of the width";
            continue;
        }
        EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 && rect.right <= client.right && rect.bottom <= client.bottom)
            << where << ": " << id << " leaves the client area";
        // The room the text needs in the control's font, wrapped as the control wraps it.
        wchar_t className[16] = {}, text[2048] = {};
        ::GetClassNameW(control, className, 16);
        ::GetWindowTextW(control, text, 2048);
        const bool isButton = lstrcmpiW(className, L"Button") == 0;
        const bool noPrefix = !isButton && (::GetWindowLongPtrW(control, GWL_STYLE) & SS_NOPREFIX);
        RECT inside{}, needed{};
        ::GetClientRect(control, &inside);
        needed.right = isButton ? 0 : inside.right;
        const HDC dc = ::GetDC(control);
        const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
        ::DrawTextW(dc, text, -1, &needed,
                    DT_CALCRECT | DT_EXPANDTABS | (isButton ? DT_SINGLELINE : DT_WORDBREAK) | (noPrefix ? DT_NOPREFIX : 0));
        ::SelectObject(dc, old);
        ::ReleaseDC(control, dc);
        // A button's frame and focus rectangle take a few pixels of each side.
        EXPECT_TRUE(needed.right <= inside.right - (isButton ? DpiSupport::Scale(6, dpi) : 0) &&
                    needed.bottom <= inside.bottom)
            << where << ": text of " << id << " clipped";
    }
}

void SaveShot(HWND dialog, const std::wstring& path) {
    RECT window{};
    ::GetWindowRect(dialog, &window);
    const LONG width = window.right - window.left, height = window.bottom - window.top;
    const BITMAPINFOHEADER header{sizeof(header), width, height, 1, 24, BI_RGB,
                                  static_cast<DWORD>(((width * 3 + 3) & ~3) * height), 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP shot = ::CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&header), 0, &bits, nullptr, 0);
    const HDC source = ::GetWindowDC(dialog);
    const HDC memory = ::CreateCompatibleDC(source);
    const HGDIOBJ old = ::SelectObject(memory, shot);
    ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    ::GdiFlush();
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(header);
    const BITMAPFILEHEADER file{0x4D42, offset + header.biSizeImage, 0, 0, offset};
    const kv::unique_hfile out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(out.get(), &file, sizeof(file), &written, nullptr) &&
                ::WriteFile(out.get(), &header, sizeof(header), &written, nullptr) &&
                ::WriteFile(out.get(), bits, header.biSizeImage, &written, nullptr))
        << path;
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(dialog, source);
    ::DeleteObject(shot);
}

// Each window looks at itself as soon as its modal loop runs, then ends. An
// English one also moves, as it were, to a monitor of twice the DPI.
template <typename Dialog, bool HasBanner>
class Probed : public Dialog {
public:
    explicit Probed(std::wstring where) : where_(std::move(where)) {}

protected:
    BOOL OnInitDialog() override {
        const BOOL result = Dialog::OnInitDialog();
        ::SetTimer(this->m_hWnd, kProbeTimerId, 1, nullptr);
        return result;
    }
    bool OnTimer(UINT_PTR timerId) override {
        if (timerId != kProbeTimerId) return Dialog::OnTimer(timerId);
        const HWND window = this->m_hWnd;
        ::KillTimer(window, kProbeTimerId);
        ::ShowWindow(window, SW_SHOWNORMAL);
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        const UINT dpi = DpiSupport::ForWindow(window);
        CheckControls(window, dpi, where_, HasBanner);
        SaveShot(window, ShotFolder() + L"\\" + where_ + L".bmp");
        if (where_.find(L"-en-") != std::wstring::npos) {
            RECT suggested{0, 0, 100, 100};
            ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), reinterpret_cast<LPARAM>(&suggested));
            CheckControls(window, 2 * dpi, where_ + L" moved to twice the DPI", HasBanner);
        }
        this->EndDialog(IDCANCEL);
        return true;
    }

private:
    std::wstring where_;
};

template <typename Dialog>
INT_PTR Run(Dialog& dialog, const CustLoc& texts) {
    dialog.m_title = texts.GetString(L"Product_HG");
    dialog.m_closeText = texts.GetString(L"Close");
    return dialog.DoModal();
}

INT_PTR Show(const Window& window, const CustLoc& texts, const std::wstring& where) {
    if (!window.messageKey) {
        Probed<HelpDialog, false> help(where);
        help.m_text = HelpDialog::Text(texts);
        return Run(help, texts);
    }
    Probed<UpgradeDialog, true> dialog(where);
    dialog.m_upgradeText = texts.GetString(L"Upgrade");
    dialog.m_message = texts.GetString(window.messageKey);
    dialog.m_upgradeOffered = window.upgradeOffered;
    dialog.m_waitMode = window.waitMode;
    return Run(dialog, texts);
}

// The windows at the DPI the parent set; run only by the test below.
TEST(DialogFitAtOneDpi, DISABLED_EveryWindowInEveryLanguage) {
    DialogDriver::WineDrawsOwnCaption caption;
    wchar_t expected[8] = {};
    ::GetEnvironmentVariableW(kDpiVariable, expected, 8);
    const std::wstring dpi = std::to_wstring(DpiSupport::ForWindow(nullptr));
    ASSERT_EQ(expected, dpi) << "the process does not run at the DPI set for it";
    CustLoc& texts = *CustLoc::Instance();
    ASSERT_TRUE(texts.ParseResources(::GetModuleHandleW(nullptr), 130));
    ASSERT_EQ(29u, texts.Entries().size());
    const CustLoc::Table table = texts.Entries();
    for (const auto& language : table) {
        texts.SetLanguage(language.first);
        for (const Window& window : kWindows) {
            const std::wstring where = std::wstring(window.name) + L"-" + language.first + L"-" + dpi;
            EXPECT_EQ(IDCANCEL, Show(window, texts, where)) << where;
        }
    }
}

// The exit code of this program run again for the windows at that DPI.
intptr_t RunAtDpi(DWORD dpi) {
    if (::RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi,
                          sizeof(dpi)) != ERROR_SUCCESS)
        return -1;
    ::SetEnvironmentVariableW(kDpiVariable, std::to_wstring(dpi).c_str());
    wchar_t program[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring quoted = L"\"" + std::wstring(program) + L"\"";
    return _wspawnl(_P_WAIT, program, quoted.c_str(), L"--gtest_filter=DialogFitAtOneDpi.*",
                    L"--gtest_also_run_disabled_tests", nullptr);
}

TEST(DialogFit, EveryWindowInEveryLanguageFitsAt96_144And192Dpi) {
    ::CreateDirectoryW(ShotFolder().c_str(), nullptr);
    // The child lists what does not fit above; the prefix goes back to 96 DPI.
    for (const DWORD dpi : {144u, 192u, 96u}) EXPECT_EQ(0, RunAtDpi(dpi)) << "at " << dpi << " DPI";
}

}  // namespace
