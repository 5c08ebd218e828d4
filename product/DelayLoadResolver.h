#pragma once
// Libraries that the program uses only on some roads (the product's IPC
// library) are linked for loading on first use: each entry is a small stub
// of the program that asks ResolveDelayLoadedImport for the entry's address
// the first time it is called. The program therefore starts on machines
// where such a library is missing, and a missing library or entry becomes a
// DelayLoadError that GuardedDelayLoadInit turns into a result code.
#include <windows.h>

// (MinGW's delayimp.h has no guard: include it through this header only.)
#include <delayimp.h>

#include <cstddef>
#include <string>

// The delay-load failure codes that the platform's own loader raises.
constexpr DWORD kDelayLoadBadDescriptor = 0xC06D0057;
constexpr DWORD kDelayLoadLibraryNotFound = 0xC06D007E;
constexpr DWORD kDelayLoadEntryNotFound = 0xC06D007F;

// Descriptor attribute: the descriptor's addresses are relative ones, the
// only form this resolver understands.
constexpr DWORD kDelayLoadRelativeAddresses = 0x1;

// One entry of a library, by name (or by ordinal when name is null).
struct DelayLoadImport {
    const char* name;
    WORD ordinal;
    FARPROC* address;  // filled on first use
};

// One library linked for loading on first use.
struct DelayLoadDescriptor {
    DWORD attributes;
    const char* libraryName;
    HMODULE* module;  // published once the library is loaded
    DelayLoadImport* imports;
    size_t importCount;
    // The addresses a binding tool stored beforehand, valid only for the
    // library image with this time stamp; 0 (the program's own descriptors)
    // means never bound.
    const FARPROC* boundAddresses;
    DWORD timeStamp;
};

// What the resolver raises; the codes are the kDelayLoad* values above.
struct DelayLoadError {
    DWORD code;
    std::string libraryName;
    std::string entryName;  // empty for an entry imported by ordinal, or a bad descriptor
    DWORD lastError;
};

// Where the search for a library looks in the registry after the program's
// own folder: the value named after the library under this key. Process-wide;
// set by GuardedDelayLoadInit, keeps the last value set.
constexpr size_t kDelayLoadKeyPathCapacity = 1024;
void SetDelayLoadLookupLocation(HKEY root, const char* keyPath);
HKEY DelayLoadLookupRoot();
std::string DelayLoadLookupKeyPath();

// The address of entry index of descriptor, loading the library on first
// use; throws DelayLoadError.
FARPROC ResolveDelayLoadedImport(const DelayLoadDescriptor& descriptor, size_t index);

// The library beside this program when the maker signed it (else it is
// skipped with a warning), otherwise at the full path stored in the registry
// under the lookup location; never from the system's search path. Null when
// neither loads.
HMODULE FindAndLoadLibrary(const char* libraryName);

// Releases a library loaded through descriptor and forgets its resolved
// entries, so that the next call loads and resolves afresh. False when it
// was not loaded.
bool UnloadDelayLoadedLibrary(const DelayLoadDescriptor& descriptor);

// The hook of the platform's on-first-use helper (__pfnDliNotifyHook2) for
// the system libraries that only some roads need: each comes from the system
// folder only, never from the folder the program was started from or lies
// in, which a user may be able to write. When it cannot be loaded from
// there, the hook raises the helper's own failure (kDelayLoadLibraryNotFound,
// not continuable) rather than leave the helper to load it by its bare name.
// Loads through the replaceable table of system calls.
FARPROC WINAPI LoadSystemLibraryOnFirstUse(unsigned notification, PDelayLoadInfo info);
