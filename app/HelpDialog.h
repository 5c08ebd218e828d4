#pragma once
// The help window: the product's name as caption, the options and the exit
// codes in the display language, and a Close button. The window grows to fit
// its text, whose length differs from language to language, and lays itself
// out again, in a font of the new size, when it moves to a monitor of
// another DPI. Like every
// window of an unattended run it can close itself (m_closeAfterMs).
#include <windows.h>

#include <string>

#include "app/Dialog.h"
#include "app/Font.h"

class CustLoc;

class HelpDialog : public CDialog {
public:
    enum : UINT { IDD = 136 };
    // The same ids as the upgrade dialog's text and Close button.
    enum : int { IDC_HELP_TEXT = 1007 };

    HelpDialog();

    // The help text in the table's current language, lines ended by CR LF.
    static std::wstring Text(const CustLoc& texts);

    HICON m_icon = nullptr;
    std::wstring m_title;
    std::wstring m_text;
    std::wstring m_closeText;

protected:
    BOOL OnInitDialog() override;
    bool OnDpiChanged(UINT dpi, const RECT& suggested) override;

private:
    // The template's margins and least sizes, in pixels at m_metricsDpi.
    struct Metrics {
        int margin;
        int gap;
        SIZE button;
        SIZE text;
    };
    Metrics CaptureMetrics() const;
    // The dialog font scaled from the DPI it was made for to the new one.
    void UseFontFor(UINT fromDpi, UINT toDpi);
    // Sizes the text control to its text, moves the button below it and the
    // window around both, centred on its monitor's work area.
    void FitToText();

    Metrics m_metrics{};
    UINT m_metricsDpi = 0;
    UINT m_dpi = 0;
    CFont m_font;
};
