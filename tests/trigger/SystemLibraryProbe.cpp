// Started by the delay-load tests: with the program's hook in place and every
// load through the table failing, the first call into a system library must
// end it with the helper's failure as exit code, not load the library by its
// bare name (exit code 0).
#include <windows.h>
#include <wtsapi32.h>

#include "product/DelayLoadResolver.h"
#include "product/DelayLoadSystemCalls.h"

namespace {

class NothingLoads : public DelayLoadSystemCalls {
public:
    LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) override { return ERROR_FILE_NOT_FOUND; }
    LONG RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) override { return ERROR_FILE_NOT_FOUND; }
    LONG RegCloseKey(HKEY) override { return ERROR_SUCCESS; }
    DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) override {
        return ::GetModuleFileNameA(module, fileName, size);
    }
    HMODULE LoadLibraryExW(LPCWSTR, HANDLE, DWORD) override {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
};

LONG WINAPI ExitWithExceptionCode(EXCEPTION_POINTERS* pointers) {
    ::ExitProcess(pointers->ExceptionRecord->ExceptionCode);
}

}  // namespace

int wmain() {
    ::SetUnhandledExceptionFilter(&ExitWithExceptionCode);
    static NothingLoads nothingLoads;
    ReplaceDelayLoadSystemCalls(&nothingLoads);
    __pfnDliNotifyHook2 = LoadSystemLibraryOnFirstUse;
    ::WTSFreeMemory(nullptr);
    return 0;
}
