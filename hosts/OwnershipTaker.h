#pragma once
// Regains access to a file or folder whose DACL the process may not write:
// the Administrators group is made its owner (with SeTakeOwnershipPrivilege
// when needed), and the caller then writes the DACL it intends. No DACL is
// ever written here, so the object never stands open in between. Built for
// one call.
#include <windows.h>

#include <vector>

#include "common/UniqueHandle.h"

namespace kv::traits {
struct Sid {
    using pointer = PSID;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer sid) noexcept { ::FreeSid(sid); }
};
}  // namespace kv::traits

// The own process token and the privileges enabled through it during one
// repair. Each privilege's state before it was first enabled is kept and
// put back when the object goes, so that neither this process nor the
// installer it starts later keeps a privilege the repair needed.
class ProcessPrivileges {
public:
    ProcessPrivileges();
    ~ProcessPrivileges();
    ProcessPrivileges(const ProcessPrivileges&) = delete;
    ProcessPrivileges& operator=(const ProcessPrivileges&) = delete;

    bool HasToken() const { return static_cast<bool>(token_); }
    // False also when the token does not hold it (ERROR_NOT_ALL_ASSIGNED).
    bool Enable(const wchar_t* name);
    // Puts back every state saved by Enable; false when one write failed.
    bool RestoreAll();

private:
    kv::unique_handle token_;
    std::vector<TOKEN_PRIVILEGES> previous_;
};

class OwnershipTaker {
public:
    // Results of TakeOwnership.
    enum Result : int {
        Done = 0,                // the Administrators group owns the object now
        NoPathOrToken = 2,       // no path, or the process token could not be opened
        OwnerNotSet = 3,         // the Administrators SID could not be put into the descriptor
        NoPrivilege = 4,         // the owner write failed and the privilege could not be enabled
        OwnerWriteFailed = 5,    // the owner write failed again with the privilege
    };

    explicit OwnershipTaker(ProcessPrivileges& privileges);
    OwnershipTaker(const OwnershipTaker&) = delete;
    OwnershipTaker& operator=(const OwnershipTaker&) = delete;

    int TakeOwnership(const wchar_t* path);

private:
    ProcessPrivileges& privileges_;
    kv::unique_any<kv::traits::Sid> administrators_;
    SECURITY_DESCRIPTOR descriptor_{};
};

// Writes the owner recorded in a descriptor back to a file or folder; an
// owner other than the caller needs SeRestorePrivilege, enabled on refusal.
bool RestoreOwner(const wchar_t* path, PSECURITY_DESCRIPTOR recorded, ProcessPrivileges& privileges);
