#include "app/UpgradeDialog.h"

#include <utility>

#include "app/DpiSupport.h"
#include "app/WinApp.h"
#include "log/KvQmtLog.h"

using namespace KvQmtLogging;

namespace {
constexpr int kIconId = 128;
constexpr size_t kMostDots = 7;
// The texts' height at 96 DPI.
constexpr int kFontHeight = 14;
// Room a button leaves around its text, both sides together, at 96 DPI.
constexpr int kButtonPadding = 16;

HFONT CreateTextFont(UINT dpi) {
    return ::CreateFontW(DpiSupport::Scale(kFontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FF_SWISS,
                         L"Arial");
}

void Place(HWND control, const RECT& rect) {
    ::MoveWindow(control, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, FALSE);
}

SIZE TextExtent(HWND control, HFONT font, const std::wstring& text, UINT format, int width) {
    RECT rect{0, 0, width, 0};
    const HDC dc = ::GetDC(control);
    if (!dc) return SIZE{0, 0};
    const HGDIOBJ oldFont = ::SelectObject(dc, font ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_CALCRECT);
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(control, dc);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}
}  // namespace

UpgradeDialog::UpgradeDialog() : CDialog(IDD, nullptr) {
    const wchar_t* const kFunction = L"UpgradeDialog::UpgradeDialog";
    m_icon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(kIconId));
    if (!m_font.Attach(CreateTextFont(DpiSupport::kReferenceDpi)))
        LogMessage(LogError, L"%s: Failed to create font!", kFunction);
}

UpgradeDialog::~UpgradeDialog() = default;

void UpgradeDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_UPGRADE, m_upgradeButton);
    DDX_Control(pDX, IDCANCEL, m_closeButton);
    DDX_Control(pDX, IDC_STATUS_TEXT, m_statusText);
    DDX_Control(pDX, IDC_WHITE_BAND, m_whiteBand);
}

BOOL UpgradeDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    StopTimer();

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    m_dpi = DpiSupport::ForWindow(m_hWnd);
    m_frameDpi = m_dpi;
    m_frame = CaptureFrame();
    if (m_dpi != DpiSupport::kReferenceDpi) UseFontFor(m_dpi);
    // The band lies behind the status text, which it overlaps: clipped to
    // what its siblings leave free it cannot paint over the text, whichever
    // of the two the system paints last.
    const HWND band = m_whiteBand.GetSafeHwnd();
    ::SetWindowLongPtrW(band, GWL_STYLE, ::GetWindowLongPtrW(band, GWL_STYLE) | WS_CLIPSIBLINGS);
    SetFont(m_font.GetSafeHandle(), true);
    SetWindowText(m_title);

    m_statusText.SetWindowText(m_message);
    m_statusText.SetFont(m_font.GetSafeHandle());

    const bool unattended = m_closeAfterMs != 0;
    m_closeButton.SetWindowText(m_closeText);
    m_closeButton.EnableWindow(!m_waitMode && !unattended);
    m_closeButton.SetFont(m_font.GetSafeHandle());

    m_upgradeButton.SetWindowText(m_upgradeText);
    m_upgradeButton.EnableWindow(m_upgradeOffered && !m_waitMode && !unattended);
    m_upgradeButton.SetFont(m_font.GetSafeHandle());

    Arrange(nullptr);
    if (m_waitMode) m_timerId = ::SetTimer(m_hWnd, kAnimationTimerId, kAnimationIntervalMs, nullptr);
    return TRUE;
}

bool UpgradeDialog::OnDpiChanged(UINT dpi, const RECT& suggested) {
    const wchar_t* const kFunction = L"UpgradeDialog::OnDpiChanged";
    LogMessage(LogInfo, L"%s: DPI %u to %u", kFunction, m_dpi, dpi);
    if (dpi == 0) return CDialog::OnDpiChanged(dpi, suggested);
    m_dpi = dpi;
    UseFontFor(dpi);
    const POINT topLeft{suggested.left, suggested.top};
    Arrange(&topLeft);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    return true;
}

void UpgradeDialog::UseFontFor(UINT dpi) {
    const wchar_t* const kFunction = L"UpgradeDialog::UseFontFor";
    const HFONT font = CreateTextFont(dpi);
    if (!font) {
        LogMessage(LogError, L"%s: Failed to create the font for %u DPI", kFunction, dpi);
        return;
    }
    // The dialog and its controls give the old font up before it is deleted.
    SetFont(font, false);
    m_statusText.SetFont(font);
    m_closeButton.SetFont(font);
    m_upgradeButton.SetFont(font);
    m_font.Attach(font);
}

UpgradeDialogLayout::Frame UpgradeDialog::CaptureFrame() const {
    UpgradeDialogLayout::Frame frame{};
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    frame.clientWidth = client.right;
    frame.clientHeight = client.bottom;
    frame.status = ChildRect(m_statusText.GetSafeHwnd());
    frame.upgrade = ChildRect(m_upgradeButton.GetSafeHwnd());
    frame.close = ChildRect(m_closeButton.GetSafeHwnd());
    return frame;
}

UpgradeDialogLayout::Needs UpgradeDialog::MeasureTexts(const UpgradeDialogLayout::Frame& frame) const {
    const HFONT font = m_font.GetSafeHandle();
    // The animation adds up to seven dots: room for them from the start, so
    // that the text does not jump from line to line.
    std::wstring status = m_message;
    if (m_waitMode) {
        const size_t lastOther = status.find_last_not_of(L'.');
        status = status.substr(0, lastOther == std::wstring::npos ? 0 : lastOther + 1) + std::wstring(kMostDots, L'.');
    }
    const int statusWidth = frame.status.right - frame.status.left;
    const int padding = DpiSupport::Scale(kButtonPadding, m_dpi);
    UpgradeDialogLayout::Needs needs{};
    needs.statusHeight =
        TextExtent(m_statusText.GetSafeHwnd(), font, status, DT_WORDBREAK | DT_EXPANDTABS, statusWidth).cy;
    needs.upgradeWidth = TextExtent(m_upgradeButton.GetSafeHwnd(), font, m_upgradeText, DT_SINGLELINE, 0).cx + padding;
    needs.closeWidth = TextExtent(m_closeButton.GetSafeHwnd(), font, m_closeText, DT_SINGLELINE, 0).cx + padding;
    return needs;
}

void UpgradeDialog::Arrange(const POINT* topLeft) {
    const UpgradeDialogLayout::Frame frame = UpgradeDialogLayout::Scaled(m_frame, m_frameDpi, m_dpi);
    const UpgradeDialogLayout::Placement placement = UpgradeDialogLayout::Arrange(frame, m_dpi, MeasureTexts(frame));
    Place(GetDlgItem(IDC_BANNER), placement.bands.banner);
    Place(m_whiteBand.GetSafeHwnd(), placement.bands.band);
    Place(m_statusText.GetSafeHwnd(), placement.status);
    Place(m_upgradeButton.GetSafeHwnd(), placement.upgrade);
    Place(m_closeButton.GetSafeHwnd(), placement.close);
    ShowBanner(placement.bands.banner);
    ResizeClient(frame.clientWidth, placement.clientHeight, m_dpi, topLeft);
}

void UpgradeDialog::ShowBanner(const RECT& area) {
    BannerArt::unique_bitmap picture =
        BannerArt::Make(AfxGetResourceHandle(), area.right - area.left, area.bottom - area.top);
    // Without a picture of the right size the template's banner stays.
    if (!picture) return;
    const auto previous = reinterpret_cast<HBITMAP>(
        ::SendDlgItemMessageW(m_hWnd, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get())));
    // The control hands back the template's banner, which it loaded and
    // which is now the caller's; a picture of ours goes with m_banner.
    if (previous && previous != m_banner.get()) ::DeleteObject(previous);
    m_banner = std::move(picture);
}

void UpgradeDialog::StopTimer() {
    m_tickCount = 0;
    if (m_timerId != 0) ::KillTimer(m_hWnd, m_timerId);
    m_timerId = 0;
}

void UpgradeDialog::OnOK() {
    StopTimer();
    CDialog::OnOK();
}

void UpgradeDialog::OnCancel() {
    StopTimer();
    CDialog::OnCancel();
}

bool UpgradeDialog::OnCommand(WORD id, WORD notifyCode) {
    if (id == IDC_UPGRADE && notifyCode == BN_CLICKED) {
        OnOK();
        return true;
    }
    return CDialog::OnCommand(id, notifyCode);
}

HBRUSH UpgradeDialog::OnCtlColorStatic(HDC dc, HWND control) {
    // The status text stands on the white band.
    if (control != m_statusText.GetSafeHwnd()) return CDialog::OnCtlColorStatic(dc, control);
    ::SetBkColor(dc, RGB(255, 255, 255));
    return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

bool UpgradeDialog::OnTimer(UINT_PTR timerId) {
    const wchar_t* const kFunction = L"UpgradeDialog::OnTimer";
    if (timerId == kCloseTimerId) return CDialog::OnTimer(timerId);
    const int previous = m_tickCount++;
    if (previous >= kTicksBeforeStop && m_stopSignalled.load()) {
        LogMessage(LogInfo, L"%s: Timer stop signalled", kFunction);
        OnOK();
        return true;
    }
    m_message = NextDots(m_message);
    m_statusText.SetWindowText(m_message);
    return CDialog::OnTimer(timerId);
}

std::wstring UpgradeDialog::NextDots(const std::wstring& text) {
    const size_t lastOther = text.find_last_not_of(L'.');
    const size_t stem = lastOther == std::wstring::npos ? 0 : lastOther + 1;
    const size_t dots = text.size() - stem;
    const size_t next = dots < kMostDots ? dots + 1 : 0;
    return text.substr(0, stem) + std::wstring(next, L'.');
}
