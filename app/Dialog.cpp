#include "app/Dialog.h"

#include "app/DpiSupport.h"
#include "app/WinApp.h"
#include "log/KvQmtLog.h"

void DDX_Control(CDataExchange* pDX, int controlId, CWnd& control) {
    if (control.GetSafeHwnd()) return;
    control.Attach(::GetDlgItem(pDX->m_pDlgWnd->GetSafeHwnd(), controlId));
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    const wchar_t* const kFunction = L"CDialog::DoModal";
    HWND owner = m_parent ? m_parent->GetSafeHwnd() : nullptr;
    const INT_PTR result = ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_templateId), owner,
                                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: DialogBoxParamW(%u) failed with error %lu",
                                 kFunction, m_templateId, ::GetLastError());
    }
    return result;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    const wchar_t* const kFunction = L"CDialog::OnInitDialog";
    UpdateData(false);
    // A window that cannot close itself would wait for ever for a click that
    // nobody gives: without its timer it ends at once.
    if (m_closeAfterMs != 0 && !::SetTimer(m_hWnd, kCloseTimerId, m_closeAfterMs, nullptr)) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: SetTimer failed with error %lu", kFunction,
                                 ::GetLastError());
        EndDialog(IDCANCEL);
    }
    return TRUE;
}

RECT CDialog::ChildRect(HWND child) const {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(WORD id, WORD notifyCode) {
    if (notifyCode != BN_CLICKED) return false;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

bool CDialog::OnTimer(UINT_PTR timerId) {
    const wchar_t* const kFunction = L"CDialog::OnTimer";
    if (timerId != kCloseTimerId || m_closeAfterMs == 0) return false;
    ::KillTimer(m_hWnd, kCloseTimerId);
    KvQmtLogging::LogMessage(KvQmtLogging::LogInfo, L"%s: Closed by itself after %u ms", kFunction, m_closeAfterMs);
    OnCancel();
    return true;
}

HBRUSH CDialog::OnCtlColorStatic(HDC, HWND) { return nullptr; }

bool CDialog::OnDpiChanged(UINT, const RECT& suggested) {
    ::SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

void CDialog::ResizeClient(int width, int height, UINT dpi, const POINT* topLeft) {
    RECT frame{0, 0, width, height};
    DpiSupport::AdjustWindowRect(&frame, static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)),
                                 static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)), dpi);
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (topLeft ? 0u : static_cast<UINT>(SWP_NOMOVE));
    ::SetWindowPos(m_hWnd, nullptr, topLeft ? topLeft->x : 0, topLeft ? topLeft->y : 0, frame.right - frame.left,
                   frame.bottom - frame.top, flags);
}

void CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange{this, saveAndValidate};
    DoDataExchange(&exchange);
}

void CDialog::EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        // Every dialog here lays itself out for the DPI it is shown at.
        DpiSupport::TakeOverDialogScaling(window);
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    if (message == WM_NCDESTROY) {
        // The window goes; the object may outlive it on the caller's stack.
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        return FALSE;
    }
    return dialog->HandleMessage(message, wParam, lParam);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            // One of the messages whose result a dialog procedure returns directly.
            return reinterpret_cast<INT_PTR>(
                OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case WM_TIMER:
            return OnTimer(static_cast<UINT_PTR>(wParam)) ? TRUE : FALSE;
        case WM_DPICHANGED:
            return OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam)) ? TRUE : FALSE;
        default:
            return FALSE;
    }
}
