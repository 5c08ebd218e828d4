#pragma once
// Entry points of the hosts repair. Each call builds and destroys its own
// HostsFileChecker, so the hosts folder is resolved afresh every time.
#include <cstddef>

enum class HostsResult : int {
    Unchanged = 0,    // the file was missing or had no corrupted line when the repair ran
    NeedsRepair = 1,  // the file holds at least one line naming the maker
    Healthy = 2,      // no such line, or no file
    Repaired = 3,     // the lines were removed and the permissions restored
    Error = 4,        // the file could not be read or written, or a permission phase failed
};

// Puts back the access lists, owners and attributes that a repair whose
// process died left changed, and removes its temporary files. The program
// does it first on every road, and every repair does it again before it
// records its own changes; false when something could not be put back.
bool RestoreAfterInterruptedRepair();

// Whether the fresh install may go on: true when the hosts file is healthy,
// could not be read, or was repaired; false when a needed repair failed.
bool FixHosts();

// NeedsRepair, Healthy or Error.
HostsResult HostsFileNeedsRepair();
// Unchanged, Repaired or Error.
HostsResult FixFile();

// The same with the caller's patterns in place of the analyzer's own list
// (the built-in ones are still searched after them). A null array keeps the
// list as it is; null and empty strings in it are left out.
HostsResult HostsFileNeedsRepair(const wchar_t* const* patterns, size_t count);
HostsResult FixFile(const wchar_t* const* patterns, size_t count);
