#pragma once
// Regains access to a file or folder whose DACL the process may not write: a
// null DACL is written directly, or else after the Administrators group has
// been made the owner (with SeTakeOwnershipPrivilege when needed). Built for
// one call.
#include <windows.h>

#include "UniqueHandle.h"

namespace hosts_traits {
struct Sid {
    using pointer = PSID;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer sid) noexcept { ::FreeSid(sid); }
};
}  // namespace hosts_traits

class OwnershipTaker {
public:
    // Results of TakeOwnership.
    enum Result : int {
        Done = 0,                // the null DACL was written, directly or after the owner change
        NoPathOrToken = 2,       // no path, or the process token could not be opened
        OwnerNotSet = 3,         // the Administrators SID could not be put into the descriptor
        NoPrivilege = 4,         // the owner write failed and the privilege could not be enabled
        OwnerWriteFailed = 5,    // the owner write failed again with the privilege
        DaclWriteFailed = 6,     // the owner was written, the null DACL was not
    };

    OwnershipTaker();
    OwnershipTaker(const OwnershipTaker&) = delete;
    OwnershipTaker& operator=(const OwnershipTaker&) = delete;

    int TakeOwnership(const wchar_t* path);

private:
    kv::unique_any<hosts_traits::Sid> administrators_;
    kv::unique_handle token_;
    SECURITY_DESCRIPTOR descriptor_{};
};

// Enables SeTakeOwnershipPrivilege in the token for the rest of the process.
// False also when the token does not hold it (ERROR_NOT_ALL_ASSIGNED).
bool EnableTakeOwnershipPrivilege(HANDLE token);
