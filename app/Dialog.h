#pragma once
// A modal dialog over a dialog template, in the shape of the framework's
// CDialog. DoModal passes the object to DialogBoxParamW; the dialog procedure
// keeps it in DWLP_USER from WM_INITDIALOG on and forwards commands and
// timers to its virtual methods. Messages that arrive before WM_INITDIALOG
// get the dialog manager's default handling.
#include <windows.h>

#include "app/Wnd.h"

class CDialog;

// The direction of one data exchange between the dialog and its members.
struct CDataExchange {
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;
};

// Binds the control with the given id to a member; binding twice keeps the first.
void DDX_Control(CDataExchange* pDX, int controlId, CWnd& control);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog until EndDialog; the result that ended it, or -1 when
    // the template could not be loaded or the window not made.
    virtual INT_PTR DoModal();

    // Set before DoModal for a window of an unattended run, which nobody may
    // answer: it ends itself with IDCANCEL after that many milliseconds.
    // 0: the window waits for its buttons.
    UINT m_closeAfterMs = 0;
    static constexpr UINT_PTR kCloseTimerId = 2;

protected:
    // A control's rectangle in this dialog's client coordinates.
    RECT ChildRect(HWND child) const;

    virtual void DoDataExchange(CDataExchange* pDX);
    // Binds the controls and starts the closing timer of an unattended
    // window; TRUE lets the dialog manager set the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // A WM_COMMAND; true when it was handled. IDOK and IDCANCEL reach OnOK and OnCancel.
    virtual bool OnCommand(WORD id, WORD notifyCode);
    // A WM_TIMER; true when it was handled, false for the default processing.
    // The closing timer of an unattended window ends it here.
    virtual bool OnTimer(UINT_PTR timerId);
    // The brush a static control paints its background with; null for the
    // dialog manager's own.
    virtual HBRUSH OnCtlColorStatic(HDC dc, HWND control);
    // A WM_DPICHANGED: the window is now on a monitor of that DPI, and the
    // system suggests the window rectangle. True when the dialog laid itself
    // out anew; false moves the window to the suggested rectangle.
    virtual bool OnDpiChanged(UINT dpi, const RECT& suggested);

    // Resizes the window around a client of that size with the frame of
    // that DPI; at the given top-left corner, or where it is when null.
    void ResizeClient(int width, int height, UINT dpi, const POINT* topLeft);

    void UpdateData(bool saveAndValidate);
    void EndDialog(INT_PTR result);
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_parent;
};
