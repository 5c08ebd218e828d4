#include "app/WindowStation.h"

#include "log/KvQmtLog.h"

using namespace KvQmtLogging;

namespace {
class SystemStation : public WindowStationOperations {
public:
    HWINSTA GetProcessWindowStation() override { return ::GetProcessWindowStation(); }
    BOOL GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD length, LPDWORD needed) override {
        return ::GetUserObjectInformationW(object, index, info, length, needed);
    }
};
}  // namespace

WindowStationOperations& SystemWindowStationOperations() {
    static SystemStation operations;
    return operations;
}

bool HasVisibleWindowStation(WindowStationOperations& operations) {
    const wchar_t* const kFunction = L"HasVisibleWindowStation";
    // The station handle is the process's own and is not closed.
    const HWINSTA station = operations.GetProcessWindowStation();
    if (!station) {
        LogMessage(LogWarning, L"%s: GetProcessWindowStation failed with error %lu", kFunction, ::GetLastError());
        return true;
    }
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!operations.GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
        LogMessage(LogWarning, L"%s: GetUserObjectInformationW(UOI_FLAGS) failed with error %lu", kFunction,
                   ::GetLastError());
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}
