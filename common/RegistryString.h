#pragma once
// Reads a registry string value with its type checked and its text ended at
// its size: stored data need not carry their terminating zero, may have an odd
// byte count, and may change between the query of the size and the read.
#include <windows.h>

#include <string>

namespace kv {

enum class RegistryStringTypes {
    Plain,              // REG_SZ only
    PlainOrExpandable,  // REG_SZ or REG_EXPAND_SZ, left unexpanded
};

struct RegistryStringRead {
    enum Outcome {
        Read,
        // The value is missing or cannot be queried, or its data are longer
        // than the caller takes (error ERROR_MORE_DATA).
        QueryFailed,
        // The value is of another type (error ERROR_UNSUPPORTED_TYPE).
        WrongType,
        // The read after the size query failed or found the value changed,
        // or there was no memory for it.
        Failed,
    };
    Outcome outcome = QueryFailed;
    // The Win32 error for every outcome but Read.
    LONG error = ERROR_SUCCESS;
    // The stored type, for the caller's log line and its expansion.
    DWORD type = REG_NONE;

    explicit operator bool() const { return outcome == Read; }
};

// The text ends at its first zero or at the end of the data; it is left
// untouched unless the value is read.
RegistryStringRead ReadRegistryString(HKEY key, const wchar_t* valueName, RegistryStringTypes types,
                                      DWORD maxBytes, std::wstring& text);

}  // namespace kv
