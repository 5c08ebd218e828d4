// Opens every window of the tool in every language at the DPI the prefix is
// set to, checks that each text fits its control and each control the
// window, and saves a screenshot of each window:
//   app_fit_child.exe <dpi> <screenshot folder>
// Its exit code is the number of windows that failed; each failure is one
// line on the standard output. The fit test runs it once per DPI, because a
// Wine process reads the DPI once, when it starts.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/DpiSupport.h"
#include "app/HelpDialog.h"
#include "app/UpgradeDialog.h"
#include "localization/CustLoc.h"
#include "log/Logger.h"
#include "tools/dialogdriver/DialogDriver.h"

namespace {

constexpr UINT_PTR kProbeTimerId = 77;
constexpr int kStringTableId = 130;

const wchar_t* const kLanguages[] = {L"bg", L"cs", L"da", L"de", L"el", L"en", L"es-MX", L"es", L"et", L"fi",
                                     L"fr-CA", L"fr", L"hu", L"it", L"ja", L"nl", L"no", L"pl", L"pt-BR", L"pt",
                                     L"ro", L"ru", L"sl", L"sv", L"tr", L"vi", L"zh-HK", L"zh-TW", L"zh"};

struct Probe {
    UINT dpi;
    std::wstring shotPath;
    std::vector<std::string> faults;

    void Fault(const char* what, int id) {
        char line[160];
        std::snprintf(line, sizeof(line), "%s (control %d)", what, id);
        faults.emplace_back(line);
    }
};

RECT ChildRect(HWND dialog, HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring Text(HWND window) {
    wchar_t buffer[2048] = {};
    ::GetWindowTextW(window, buffer, 2048);
    return buffer;
}

// What the text needs in the control's own font, wrapped as the control wraps it.
SIZE Needed(HWND control, bool isButton, LONG width) {
    const std::wstring text = Text(control);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(control, GWL_STYLE));
    UINT format = DT_CALCRECT | DT_EXPANDTABS;
    format |= isButton ? DT_SINGLELINE : DT_WORDBREAK;
    if (!isButton && (style & SS_NOPREFIX)) format |= DT_NOPREFIX;
    RECT rect{0, 0, isButton ? 0 : width, 0};
    const HDC dc = ::GetDC(control);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, text.c_str(), -1, &rect, format);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return SIZE{rect.right, rect.bottom};
}

void CheckControl(Probe& probe, HWND dialog, HWND control, const RECT& client) {
    const int id = ::GetDlgCtrlID(control);
    const RECT rect = ChildRect(dialog, control);
    const bool decoration = id == UpgradeDialog::IDC_BANNER || id == UpgradeDialog::IDC_WHITE_BAND;
    if (decoration) {
        if (rect.left > 0 || rect.right < client.right) probe.Fault("does not cover the width", id);
        return;
    }
    if (rect.left < 0 || rect.top < 0 || rect.right > client.right || rect.bottom > client.bottom)
        probe.Fault("leaves the client area", id);
    wchar_t className[32] = {};
    ::GetClassNameW(control, className, 32);
    const bool isButton = lstrcmpiW(className, L"Button") == 0;
    RECT inside{};
    ::GetClientRect(control, &inside);
    // A button's frame and focus rectangle take a few pixels of each side.
    const LONG room = inside.right - (isButton ? DpiSupport::Scale(6, probe.dpi) : 0);
    const SIZE needed = Needed(control, isButton, inside.right);
    if (needed.cx > room || needed.cy > inside.bottom) probe.Fault("text clipped", id);
}

void CheckBanner(Probe& probe, HWND dialog) {
    const HWND banner = ::GetDlgItem(dialog, UpgradeDialog::IDC_BANNER);
    const HWND band = ::GetDlgItem(dialog, UpgradeDialog::IDC_WHITE_BAND);
    const RECT bannerRect = ChildRect(dialog, banner);
    const RECT bandRect = ChildRect(dialog, band);
    const RECT statusRect = ChildRect(dialog, ::GetDlgItem(dialog, UpgradeDialog::IDC_STATUS_TEXT));
    if (bandRect.top != bannerRect.bottom) probe.Fault("band not directly below the banner", UpgradeDialog::IDC_WHITE_BAND);
    if (statusRect.top < bandRect.top || statusRect.bottom > bandRect.bottom)
        probe.Fault("status text not on the band", UpgradeDialog::IDC_STATUS_TEXT);
    BITMAP picture{};
    const auto image = reinterpret_cast<HBITMAP>(::SendMessageW(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (!image || !::GetObjectW(image, sizeof(picture), &picture) ||
        picture.bmWidth != bannerRect.right - bannerRect.left || picture.bmHeight != bannerRect.bottom - bannerRect.top)
        probe.Fault("banner picture not the banner's size", UpgradeDialog::IDC_BANNER);
    LOGFONTW font{};
    const auto statusFont = reinterpret_cast<HFONT>(
        ::SendDlgItemMessageW(dialog, UpgradeDialog::IDC_STATUS_TEXT, WM_GETFONT, 0, 0));
    if (!::GetObjectW(statusFont, sizeof(font), &font) || font.lfHeight != DpiSupport::Scale(14, probe.dpi))
        probe.Fault("status font not 14 pixels at 96 DPI", UpgradeDialog::IDC_STATUS_TEXT);
}

void SaveShot(Probe& probe, HWND dialog) {
    RECT window{};
    ::GetWindowRect(dialog, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP shot = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HDC source = ::GetWindowDC(dialog);
    const HDC memory = ::CreateCompatibleDC(source);
    const HGDIOBJ old = ::SelectObject(memory, shot);
    ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    ::GdiFlush();
    const DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    info.bmiHeader.biSizeImage = imageSize;
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize),
                          0, 0, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    const HANDLE out = ::CreateFileW(probe.shotPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (out == INVALID_HANDLE_VALUE || !::WriteFile(out, &file, sizeof(file), &written, nullptr) ||
        !::WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) ||
        !::WriteFile(out, bits, imageSize, &written, nullptr))
        probe.Fault("screenshot not saved", 0);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(dialog, source);
    ::DeleteObject(shot);
}

void Inspect(Probe& probe, HWND dialog, bool hasBanner) {
    ::ShowWindow(dialog, SW_SHOWNORMAL);
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    if (DpiSupport::ForWindow(dialog) != probe.dpi) probe.Fault("window not at the prefix's DPI", 0);
    RECT client{};
    ::GetClientRect(dialog, &client);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::IsWindowVisible(child)) CheckControl(probe, dialog, child, client);
    }
    if (hasBanner) CheckBanner(probe, dialog);
    SaveShot(probe, dialog);
}

// Each window inspects itself as soon as its modal loop runs, then ends.
template <typename Dialog, bool HasBanner>
class Probed : public Dialog {
public:
    explicit Probed(Probe& probe) : probe_(probe) {}

protected:
    BOOL OnInitDialog() override {
        const BOOL result = Dialog::OnInitDialog();
        ::SetTimer(this->m_hWnd, kProbeTimerId, 1, nullptr);
        return result;
    }
    bool OnTimer(UINT_PTR timerId) override {
        if (timerId != kProbeTimerId) return Dialog::OnTimer(timerId);
        ::KillTimer(this->m_hWnd, kProbeTimerId);
        Inspect(probe_, this->m_hWnd, HasBanner);
        this->EndDialog(IDCANCEL);
        return true;
    }

private:
    Probe& probe_;
};

struct Window {
    const wchar_t* name;
    const wchar_t* messageKey;  // null for the help window
    bool upgradeOffered;
    bool waitMode;
};

const Window kWindows[] = {
    {L"uptodate", L"UpToDate", false, false},      {L"available", L"UpgradeAvailable", true, false},
    {L"inprogress", L"UpgradingPleaseWait", false, false}, {L"failed", L"UpgradeFailed", false, false},
    {L"pleasewait", L"PleaseWait", false, true},  {L"help", nullptr, false, false},
};

INT_PTR Show(const Window& window, const CustLoc& texts, Probe& probe) {
    if (!window.messageKey) {
        Probed<HelpDialog, false> help(probe);
        help.m_title = texts.GetString(L"Product_HG");
        help.m_text = HelpDialog::Text(texts);
        help.m_closeText = texts.GetString(L"Close");
        return help.DoModal();
    }
    Probed<UpgradeDialog, true> dialog(probe);
    dialog.m_title = texts.GetString(L"Product_HG");
    dialog.m_closeText = texts.GetString(L"Close");
    dialog.m_upgradeText = texts.GetString(L"Upgrade");
    dialog.m_message = texts.GetString(window.messageKey);
    dialog.m_upgradeOffered = window.upgradeOffered;
    dialog.m_waitMode = window.waitMode;
    return dialog.DoModal();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("usage: app_fit_child <dpi> <screenshot folder>\n");
        return 255;
    }
    DialogDriver::WineDrawsOwnCaption caption;
    KvQmtLogging::GetLogger().Configure(0, L"Test", L"app_fit_child");
    const UINT dpi = static_cast<UINT>(_wtoi(argv[1]));
    const std::wstring folder = argv[2];
    if (DpiSupport::ForWindow(nullptr) != dpi) {
        std::printf("the process runs at %u DPI, not at %u\n", DpiSupport::ForWindow(nullptr), dpi);
        return 254;
    }
    CustLoc& texts = *CustLoc::Instance();
    if (!texts.ParseResources(::GetModuleHandleW(nullptr), kStringTableId)) return 253;
    int failed = 0;
    for (const wchar_t* language : kLanguages) {
        texts.SetLanguage(language);
        for (const Window& window : kWindows) {
            Probe probe{dpi, folder + L"\\" + window.name + L"-" + language + L"-" + argv[1] + L".bmp", {}};
            if (Show(window, texts, probe) != IDCANCEL) probe.faults.emplace_back("window did not run");
            for (const std::string& fault : probe.faults)
                std::printf("%ls %ls %u DPI: %s\n", window.name, language, dpi, fault.c_str());
            if (!probe.faults.empty()) ++failed;
        }
    }
    std::fflush(stdout);
    return failed;
}
