#pragma once
// The system calls that the search for an on-first-use library makes. They
// sit behind one table so that a test can replace them as a whole, for
// instance to place the program in a folder of its own or to record whether
// the registry was read at all.
#include <windows.h>

class DelayLoadSystemCalls {
public:
    virtual ~DelayLoadSystemCalls() = default;
    virtual LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY key) = 0;
    virtual LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                  LPDWORD dataSize) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;
    virtual DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) = 0;
    // Always given a full path; LOAD_WITH_ALTERED_SEARCH_PATH then takes the
    // library's own dependencies from its folder.
    virtual HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) = 0;
};

// The Win32 implementation, one object for the process.
DelayLoadSystemCalls& Win32DelayLoadSystemCalls();

// The table the library search uses: the Win32 one unless replaced.
DelayLoadSystemCalls& CurrentDelayLoadSystemCalls();

// Installs another table (null: the Win32 one again) and gives the one it
// replaces. The caller keeps the table alive while it is installed.
DelayLoadSystemCalls* ReplaceDelayLoadSystemCalls(DelayLoadSystemCalls* calls);
