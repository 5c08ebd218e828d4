#include "app/WinApp.h"

namespace {
CWinApp* g_application = nullptr;
}  // namespace

CWinApp::CWinApp() { g_application = this; }

CWinApp::~CWinApp() {
    if (g_application == this) g_application = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return m_exitCode; }

void CWinApp::SetRegistryKey(const wchar_t* companyName) { m_registryKey = companyName ? companyName : L""; }

CWinApp* AfxGetApp() { return g_application; }

HINSTANCE AfxGetResourceHandle() {
    CWinApp* application = AfxGetApp();
    return application ? application->m_hInstance : ::GetModuleHandleW(nullptr);
}

int AfxWinMain(HINSTANCE instance, int /*showCommand*/) {
    CWinApp* application = AfxGetApp();
    if (!application) return ERROR_INVALID_FUNCTION;
    application->m_hInstance = instance;
    application->InitInstance();
    return application->ExitInstance();
}
