#pragma once
// A window the program talks to through its handle, in the shape of the
// framework's CWnd: it does not own the window (the dialog manager destroys
// dialogs and their controls), it only names it.
#include <windows.h>

#include <string>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // Binds the object to an existing window; false when the handle is not a window.
    bool Attach(HWND window);

    void SetWindowText(const std::wstring& text);
    void EnableWindow(bool enable);
    void MoveWindow(int x, int y, int width, int height, bool repaint);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetFont(HFONT font, bool redraw = true);

    HWND m_hWnd = nullptr;
};

// Controls that the dialog binds by id; they add nothing to the window calls.
class CButton : public CWnd {};
class CStatic : public CWnd {};
