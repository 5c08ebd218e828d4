#pragma once
// The guarded first call into a library linked for loading on first use:
// the library's init entry runs with the lookup location set for the
// library's id, and a missing library or entry comes back as a code.
#include <windows.h>

// Filled for the caller when the library or its entry cannot be reached.
struct DelayLoadFailure {
    int code;
    char libraryName[32];  // cut to fit, zero-terminated
    char entryName[1024];  // cut to fit, zero-terminated; set for code 2 only
};

enum DelayLoadInitResult : int {
    DelayLoadInitRan = 0,
    DelayLoadInitLibraryNotFound = 1,
    DelayLoadInitEntryNotFound = 2,
    DelayLoadInitBadDescriptor = 3,
};

using DelayLoadInitFunction = int(WINAPI*)();

// The registry key under which the library of this id is registered: id 0
// is the framework's own key, every other id one under the product's key.
// Gives the path, at most 1023 characters.
void FormatDelayLoadKeyPath(unsigned id, char (&keyPath)[1024]);

// Sets the lookup location for id, calls init and maps the three delay-load
// failures to the codes above (failure, when given, is filled then). Any
// other exception passes on. Serialised across threads.
int GuardedDelayLoadInit(unsigned id, DelayLoadInitFunction init, DelayLoadFailure* failure);

// The init function that GuardedDelayLoadInit is running, null outside it.
DelayLoadInitFunction CurrentDelayLoadInitFunction();
