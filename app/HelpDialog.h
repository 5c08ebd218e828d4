#pragma once
// The help window: the product's name as caption, the options and the exit
// codes in the display language, and a Close button. The window grows to fit
// its text, whose length differs from language to language. Like every
// window of an unattended run it can close itself (m_closeAfterMs).
#include <windows.h>

#include <string>

#include "app/Dialog.h"

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

private:
    // Sizes the text control to its text, moves the button below it and the
    // window around both, centred on its monitor's work area.
    void FitToText();
};
