#include "app/UpgradeDialog.h"

#include "app/WinApp.h"
#include "log/KvQmtLog.h"

using namespace KvQmtLogging;

namespace {
constexpr int kIconId = 128;
constexpr size_t kMostDots = 7;
}  // namespace

UpgradeDialog::UpgradeDialog() : CDialog(IDD, nullptr) {
    const wchar_t* const kFunction = L"UpgradeDialog::UpgradeDialog";
    m_icon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(kIconId));
    const HFONT font = ::CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FF_SWISS, L"Arial");
    if (!m_font.Attach(font)) LogMessage(LogError, L"%s: Failed to create font!", kFunction);
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
    // The band begins right below the 55-pixel banner and runs past both edges.
    m_whiteBand.MoveWindow(-1, 55, 423, 85, false);
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

    if (m_waitMode) m_timerId = ::SetTimer(m_hWnd, kAnimationTimerId, kAnimationIntervalMs, nullptr);
    return TRUE;
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
