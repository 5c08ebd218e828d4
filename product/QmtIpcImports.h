#pragma once
// The two entries of the product's IPC library QMTIPC.dll, linked for
// loading on first use (DelayLoadResolver.h): the program starts without
// the library, and the first call of either entry finds and loads it.
// Call QMTIPCDelayLoadInitialize first, through GuardedDelayLoadInit, so
// that a missing library or entry becomes a result code.
#include <windows.h>

#include "product/DelayLoadResolver.h"

constexpr const char* kQmtIpcLibraryName = "QMTIPC.dll";
constexpr unsigned kQmtIpcDelayLoadId = 100;

extern "C" {
// Loads the library; its result means nothing to the program.
int WINAPI QMTIPCDelayLoadInitialize();
// Sends one message to the daemon listening under target; 0 when sent,
// else the library's error code.
int WINAPI QMTIPCSendMessage(char* target, unsigned int code, const void* payload, unsigned int payloadLength,
                             unsigned int reserved);
}

// The library's descriptor, for releasing it (UnloadDelayLoadedLibrary).
const DelayLoadDescriptor& QmtIpcDelayLoadDescriptor();
