#pragma once
// The lock that lets one copy of the tool run on the machine. Other copies
// (and the maker's other programs) look for the machine-wide mutex by its
// well-known name, so that mutex stays; but any user may create that name
// first and hold it. The tool always runs elevated, so a mutex of that name
// that SYSTEM or the Administrators do not own is not another copy: the tool
// then goes on without it. What really keeps two elevated copies apart is a
// second mutex in a private namespace whose boundary names the Administrators
// group, which no standard user can open or create.
#include <windows.h>

#include "common/UniqueHandle.h"

// Who owns an existing kernel object.
enum class ObjectOwner {
    Administrators,  // SYSTEM or the Administrators group: the tool itself
    Other,           // any other account
    Unknown,         // the owner could not be read
};

// The system calls of the lock, replaceable because some test platforms keep
// no owners and no private namespaces.
class SingleInstanceLockApi {
public:
    virtual ~SingleInstanceLockApi() = default;
    // CreateMutexW, not owned; the last error tells whether it existed.
    virtual HANDLE CreateMachineMutex(const wchar_t* name) = 0;
    virtual ObjectOwner OwnerOf(HANDLE object) = 0;
    // A mutex of that name in the administrators' private namespace; null
    // with the last error set when the namespace cannot be had.
    virtual HANDLE CreateAdministratorsMutex(const wchar_t* name) = 0;
};

// The Win32 implementation; one object for the process. The private
// namespace, once opened, stays open as long as the process runs, so that
// the next copy finds the same mutex in it.
SingleInstanceLockApi& SystemSingleInstanceLockApi();

// Both mutexes held by this copy; each is released and closed when the lock
// goes. Empty when another copy holds the lock.
class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    // Every lock handed out holds at least one of the two mutexes.
    explicit operator bool() const { return machineHold_ || administratorsHold_; }

private:
    friend SingleInstanceLock AcquireSingleInstanceLock(SingleInstanceLockApi& api, const wchar_t* machineName,
                                                        const wchar_t* privateName);
    // Declared before the release tokens, so that each mutex is released
    // before its handle is closed.
    kv::unique_handle machineMutex_;
    kv::unique_handle administratorsMutex_;
    kv::mutex_release machineHold_;
    kv::mutex_release administratorsHold_;
};

// Takes the machine-wide mutex `machineName` unless a non-administrator
// squats it, then the administrators' mutex `privateName`. A mutex held by
// another copy, or abandoned by one that died, is not taken over.
SingleInstanceLock AcquireSingleInstanceLock(SingleInstanceLockApi& api, const wchar_t* machineName,
                                             const wchar_t* privateName);
