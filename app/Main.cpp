// The program's entry point and its one application object, constructed
// before the entry point runs.
#include <windows.h>

#include "app/Chg2013_dc_upgrade_forcerApp.h"
#include "product/DelayLoadResolver.h"

Chg2013_dc_upgrade_forcerApp theApp;

// The system libraries loaded on first use come from the system folder only.
#ifdef _MSC_VER
ExternC const PfnDliHook __pfnDliNotifyHook2 = LoadSystemLibraryOnFirstUse;
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/, int showCommand) {
    // The folder the tool was started from is never searched for a library.
    ::SetDllDirectoryW(L"");
#ifndef _MSC_VER
    __pfnDliNotifyHook2 = LoadSystemLibraryOnFirstUse;
#endif
    return AfxWinMain(instance, showCommand);
}
