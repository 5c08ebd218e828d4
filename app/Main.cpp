// The program's entry point and its one application object, constructed
// before the entry point runs.
#include <windows.h>

#include <delayimp.h>

#include <string>

#include "app/Chg2013_dc_upgrade_forcerApp.h"

Chg2013_dc_upgrade_forcerApp theApp;

namespace {

// The system libraries loaded on first use (the download's, the proxy
// resolver's, the signer check's, the session list's, the shell's) come
// from the system folder only, never from the folder the program was
// started from or lies in, which a user may be able to write.
FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    for (const char* c = info->szDll; *c != '\0'; ++c) path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return reinterpret_cast<FARPROC>(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace

#ifdef _MSC_VER
ExternC const PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/, int showCommand) {
    // The folder the tool was started from is never searched for a library.
    ::SetDllDirectoryW(L"");
#ifndef _MSC_VER
    __pfnDliNotifyHook2 = LoadFromSystemFolder;
#endif
    return AfxWinMain(instance, showCommand);
}
