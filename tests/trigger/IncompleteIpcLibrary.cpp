// A build of the IPC library that lacks one of its two entries, as a broken
// or foreign installation would.
#include <windows.h>

#ifndef INCOMPLETE_IPC_WITHOUT_INIT
extern "C" __declspec(dllexport) int WINAPI QMTIPCDelayLoadInitialize() { return 0; }
#endif

#ifndef INCOMPLETE_IPC_WITHOUT_SEND
// Claims success: a caller that reached it would wrongly count the message as sent.
extern "C" __declspec(dllexport) int WINAPI QMTIPCSendMessage(char*, unsigned int, const void*, unsigned int,
                                                              unsigned int) {
    return 0;
}
#endif
