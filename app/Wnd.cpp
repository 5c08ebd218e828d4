#include "app/Wnd.h"

bool CWnd::Attach(HWND window) {
    if (!window || !::IsWindow(window)) return false;
    m_hWnd = window;
    return true;
}

void CWnd::SetWindowText(const std::wstring& text) { ::SetWindowTextW(m_hWnd, text.c_str()); }

void CWnd::EnableWindow(bool enable) { ::EnableWindow(m_hWnd, enable ? TRUE : FALSE); }

void CWnd::MoveWindow(int x, int y, int width, int height, bool repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint ? TRUE : FALSE);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::SetFont(HFONT font, bool redraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw ? TRUE : FALSE, 0));
}
