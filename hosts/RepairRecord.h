#pragma once
// What a hosts repair must put back when its process dies while the etc
// folder and the hosts file stand opened up: their paths, their owners and
// access lists as the first permission phase found them, and the file's
// read-only, hidden and system bits. It is written, flushed, before the
// first change and removed once everything is back, in a registry key that
// only SYSTEM and the Administrators may write (the product's view of
// HKLM\SOFTWARE); the next repair reads it before it does anything else.
#include <windows.h>

#include <string>
#include <vector>

struct RepairRecord {
    enum LoadResult : int {
        None = 0,     // no repair was interrupted
        Loaded = 1,   // the record is in the fields
        Refused = 2,  // there is one, but another account could have written it, or it is malformed
    };

    std::wstring etcPath;
    std::vector<BYTE> etcSecurity;  // self-relative descriptor: owner and DACL
    std::wstring hostsPath;
    std::vector<BYTE> hostsSecurity;
    DWORD hostsAttributes = 0;  // read-only, hidden and system bits only

    // The key, below HKLM in the product's registry view.
    static const wchar_t kKey[];

    // False when it could not be written whole.
    bool Save() const;
    int Load();
    // False when a record stays behind.
    static bool Remove();
};
