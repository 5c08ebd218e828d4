#include "app/HelpDialog.h"

#include <algorithm>

#include "app/DpiSupport.h"
#include "app/WinApp.h"
#include "localization/CustLoc.h"
#include "log/KvQmtLog.h"

namespace {
constexpr int kIconId = 128;
// Room left on the screen for the window's frame, in pixels at 96 DPI.
constexpr int kFrameAllowance = 32;

enum class LineKind { Heading, Option, ExitCode, Blank };

struct HelpLine {
    LineKind kind;
    const wchar_t* forms;  // what is typed or returned, the same in every language
    const wchar_t* key;
};

const HelpLine kLines[] = {
    {LineKind::Heading, L"", L"HelpOptions"},
    {LineKind::Option, L"--quiet, -q, /quiet", L"HelpQuiet"},
    {LineKind::Option, L"--passive, /passive", L"HelpPassive"},
    {LineKind::Option, L"--lang <tag>, -l <tag>", L"HelpLang"},
    {LineKind::Option, L"--help, -h, /?", L"HelpHelp"},
    {LineKind::Blank, L"", nullptr},
    {LineKind::Heading, L"", L"HelpExitCodes"},
    {LineKind::ExitCode, L"0", L"HelpExitSuccess"},
    {LineKind::ExitCode, L"1602", L"HelpExitDeclined"},
    {LineKind::ExitCode, L"1603", L"HelpExitFailed"},
    {LineKind::ExitCode, L"1618", L"HelpExitRunning"},
};

}  // namespace

HelpDialog::HelpDialog() : CDialog(IDD, nullptr) {
    m_icon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(kIconId));
}

std::wstring HelpDialog::Text(const CustLoc& texts) {
    std::wstring text;
    for (const HelpLine& line : kLines) {
        const std::wstring forms = line.forms;
        switch (line.kind) {
            case LineKind::Heading: text += texts.GetString(line.key); break;
            case LineKind::Option: text += L"    " + forms + L"\r\n\t" + texts.GetString(line.key); break;
            case LineKind::ExitCode: text += L"    " + forms + L"\t" + texts.GetString(line.key); break;
            case LineKind::Blank: break;
        }
        text += L"\r\n";
    }
    return text;
}

BOOL HelpDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    const bool unattended = m_closeAfterMs != 0;
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    ::SetWindowTextW(m_hWnd, m_title.c_str());
    ::SetDlgItemTextW(m_hWnd, IDC_HELP_TEXT, m_text.c_str());
    ::SetDlgItemTextW(m_hWnd, IDCANCEL, m_closeText.c_str());
    ::EnableWindow(GetDlgItem(IDCANCEL), unattended ? FALSE : TRUE);
    m_dpi = DpiSupport::ForWindow(m_hWnd);
    m_metricsDpi = m_dpi;
    m_metrics = CaptureMetrics();
    FitToText();
    return TRUE;
}

bool HelpDialog::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (dpi == 0 || m_dpi == 0) return CDialog::OnDpiChanged(dpi, suggested);
    UseFontFor(m_dpi, dpi);
    m_dpi = dpi;
    ::SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    FitToText();
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    return true;
}

HelpDialog::Metrics HelpDialog::CaptureMetrics() const {
    const RECT textRect = ChildRect(GetDlgItem(IDC_HELP_TEXT));
    const RECT buttonRect = ChildRect(GetDlgItem(IDCANCEL));
    Metrics metrics{};
    metrics.margin = textRect.left;
    metrics.gap = buttonRect.top - textRect.bottom;
    metrics.button = SIZE{buttonRect.right - buttonRect.left, buttonRect.bottom - buttonRect.top};
    metrics.text = SIZE{textRect.right - textRect.left, textRect.bottom - textRect.top};
    return metrics;
}

void HelpDialog::UseFontFor(UINT fromDpi, UINT toDpi) {
    const wchar_t* const kFunction = L"HelpDialog::UseFontFor";
    const auto current = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    if (!current || ::GetObjectW(current, sizeof(description), &description) != sizeof(description)) return;
    description.lfHeight = ::MulDiv(description.lfHeight, static_cast<int>(toDpi), static_cast<int>(fromDpi));
    const HFONT font = ::CreateFontIndirectW(&description);
    if (!font) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: Failed to create the font for %u DPI", kFunction,
                                 toDpi);
        return;
    }
    // Every user of the old font gives it up before it is deleted.
    ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SendMessageW(GetDlgItem(IDC_HELP_TEXT), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SendMessageW(GetDlgItem(IDCANCEL), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    m_font.Attach(font);
}

void HelpDialog::FitToText() {
    const HWND textControl = GetDlgItem(IDC_HELP_TEXT);
    const HWND button = GetDlgItem(IDCANCEL);
    const auto scale = [this](LONG value) {
        return ::MulDiv(value, static_cast<int>(m_dpi), static_cast<int>(m_metricsDpi));
    };
    const int margin = scale(m_metrics.margin);
    const int gap = scale(m_metrics.gap);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;

    // Each line on one line of the window where the screen allows it; wrapped beyond that.
    const HDC dc = ::GetDC(textControl);
    const HGDIOBJ oldFont =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(textControl, WM_GETFONT, 0, 0)));
    const UINT format = DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX;
    RECT needed{0, 0, 0, 0};
    ::DrawTextW(dc, m_text.c_str(), -1, &needed, format);
    const LONG widest = work.right - work.left - DpiSupport::Scale(kFrameAllowance, m_dpi) - 2 * margin;
    if (needed.right > widest) {
        needed = RECT{0, 0, widest, 0};
        ::DrawTextW(dc, m_text.c_str(), -1, &needed, format | DT_WORDBREAK);
    }
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(textControl, dc);

    // Two pixels spare, so that the control does not wrap a line the measure just fitted.
    const int textWidth = std::max<int>(needed.right + 2, scale(m_metrics.text.cx));
    const int textHeight = std::max<int>(needed.bottom, scale(m_metrics.text.cy));
    const int buttonWidth = scale(m_metrics.button.cx);
    const int buttonHeight = scale(m_metrics.button.cy);
    ::MoveWindow(textControl, margin, margin, textWidth, textHeight, FALSE);
    const int buttonTop = margin + textHeight + gap;
    ::MoveWindow(button, margin + textWidth - buttonWidth, buttonTop, buttonWidth, buttonHeight, FALSE);

    RECT frame{0, 0, margin + textWidth + margin, buttonTop + buttonHeight + margin};
    DpiSupport::AdjustWindowRect(&frame, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)),
                                 static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)), m_dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(m_hWnd, nullptr, work.left + std::max<LONG>(0, (work.right - work.left - width) / 2),
                   work.top + std::max<LONG>(0, (work.bottom - work.top - height) / 2), width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}
