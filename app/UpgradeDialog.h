#pragma once
// The program's only window: a banner, a status text and two buttons. The
// start-up flow fills its public members and runs it modally. In wait mode
// both buttons are disabled, a timer animates the trailing dots of the text,
// and the dialog ends itself once another thread has set m_stopSignalled. A
// window of an unattended run (m_closeAfterMs set) shows both buttons
// disabled and ends itself with IDCANCEL when that time is up.
//
// The dialog lays itself out for the width its template took in the dialog
// font and for the DPI of its monitor, when it opens and whenever it moves to
// a monitor of another scale (UpgradeDialogLayout): the banner and the band
// span the whole width, the texts are 14 pixels high at 96 DPI, and the
// status text wraps within a control, and a window, that grow to hold it.
#include <windows.h>

#include <atomic>
#include <string>

#include "app/BannerArt.h"
#include "app/Dialog.h"
#include "app/Font.h"
#include "app/UpgradeDialogLayout.h"

class UpgradeDialog : public CDialog {
public:
    enum : UINT { IDD = 132 };
    enum : int { IDC_UPGRADE = 1006, IDC_STATUS_TEXT = 1007, IDC_BANNER = 1008, IDC_WHITE_BAND = 1009 };
    static constexpr UINT_PTR kAnimationTimerId = 1;
    static constexpr UINT kAnimationIntervalMs = 300;
    // The wait mode lasts at least this many ticks and one more, so that a
    // download that ends at once does not make the window flash.
    static constexpr int kTicksBeforeStop = 11;

    UpgradeDialog();
    ~UpgradeDialog() override;

    virtual bool OnTimer(UINT_PTR timerId) override;
    virtual void StopTimer();

    // The text with its trailing dots advanced by one animation step: one
    // more dot up to seven, then none.
    static std::wstring NextDots(const std::wstring& text);

    HICON m_icon = nullptr;
    CFont m_font;
    UINT_PTR m_timerId = 0;
    bool m_waitMode = false;
    int m_tickCount = 0;
    // Set by the download's completion callback on a worker thread.
    std::atomic<bool> m_stopSignalled{false};
    CButton m_upgradeButton;
    CButton m_closeButton;
    CStatic m_statusText;
    std::wstring m_title;
    std::wstring m_message;
    std::wstring m_closeText;
    std::wstring m_upgradeText;
    bool m_upgradeOffered = false;
    CStatic m_whiteBand;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(WORD id, WORD notifyCode) override;
    HBRUSH OnCtlColorStatic(HDC dc, HWND control) override;
    bool OnDpiChanged(UINT dpi, const RECT& suggested) override;

private:
    // The texts' font at the given DPI; the old one is kept when none can be made.
    void UseFontFor(UINT dpi);
    UpgradeDialogLayout::Frame CaptureFrame() const;
    UpgradeDialogLayout::Needs MeasureTexts(const UpgradeDialogLayout::Frame& frame) const;
    // Places every part for m_dpi and sizes the window around them.
    void Arrange(const POINT* topLeft);
    void ShowBanner(const RECT& area);

    UpgradeDialogLayout::Frame m_frame{};
    UINT m_frameDpi = 0;
    UINT m_dpi = 0;
    BannerArt::unique_bitmap m_banner;
};
