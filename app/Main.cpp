// The program's entry point and its one application object, constructed
// before the entry point runs.
#include <windows.h>

#include "Chg2013_dc_upgrade_forcerApp.h"

Chg2013_dc_upgrade_forcerApp theApp;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/, int showCommand) {
    return AfxWinMain(instance, showCommand);
}
