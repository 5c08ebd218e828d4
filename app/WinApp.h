#pragma once
// The application object of a dialog-based Windows program, in the shape of
// the framework's CWinApp: one global object derived from it, whose
// InitInstance the entry point calls. The program's windows are modal and run
// their own message loops, so none runs after InitInstance, whatever it
// returns; ExitInstance's result becomes the process exit code.
#include <windows.h>

#include <string>

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // The process exit code.
    virtual int ExitInstance();

    // Names the key under which the framework keeps the program's own
    // settings; this program stores none there.
    void SetRegistryKey(const wchar_t* companyName);
    const std::wstring& RegistryKey() const { return m_registryKey; }

    void SetExitCode(int exitCode) { m_exitCode = exitCode; }
    int ExitCode() const { return m_exitCode; }

    HINSTANCE m_hInstance = nullptr;
    // The window that counts as the program's main window while it runs; the
    // dialog that sets it clears it before it goes.
    CWnd* m_pMainWnd = nullptr;

private:
    std::wstring m_registryKey;
    int m_exitCode = 0;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();
// The module whose resources the program loads.
HINSTANCE AfxGetResourceHandle();
// The framework's part of the entry point.
int AfxWinMain(HINSTANCE instance, int showCommand);
