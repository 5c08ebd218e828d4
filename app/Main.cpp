// The program's entry point and its one application object, constructed
// before the entry point runs.
#include <windows.h>

#include "app/Chg2013_dc_upgrade_forcerApp.h"

Chg2013_dc_upgrade_forcerApp theApp;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/, int showCommand) {
    // The folder the tool was started from is never searched for a library.
    ::SetDllDirectoryW(L"");
    return AfxWinMain(instance, showCommand);
}
