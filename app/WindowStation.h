#pragma once
// Whether anybody can see the program's windows. A service, a scheduled task
// or a software distribution agent in session 0 runs in a window station
// without WSF_VISIBLE: a modal window there waits for a click that nobody
// can give. The system calls go through a small table, because the platform
// the program is tested on always has a visible station; the decision is
// tested with a table of fixed answers, the program uses the system's.
#include <windows.h>

class WindowStationOperations {
public:
    virtual ~WindowStationOperations() = default;
    virtual HWINSTA GetProcessWindowStation() = 0;
    virtual BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD length, LPDWORD needed) = 0;
};

// The Win32 implementation; one object for the process.
WindowStationOperations& SystemWindowStationOperations();

// False only when the process's window station is known to be invisible; a
// station that cannot be asked counts as visible (the run stays as asked),
// with the failure logged.
bool HasVisibleWindowStation(WindowStationOperations& operations = SystemWindowStationOperations());
