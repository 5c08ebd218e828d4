// Holds a file open without sharing, as the product's services do with
// their caches: FileLocker <path> <milliseconds> <event name>. The event is
// set once the file is held; exit code 0 when it was held, 1 when it could
// not be opened.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const DWORD holdMs = wcstoul(argv[2], nullptr, 10);
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE held = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (held) ::SetEvent(held);
    ::Sleep(holdMs);
    ::CloseHandle(file);
    if (held) ::CloseHandle(held);
    return 0;
}
