#pragma once
// Whether the calling thread's effective token is a member of the built-in
// Administrators group. The system calls go through a small table, because
// some platforms the program is tested on report every process as a member;
// the decision is tested with a recording table, the program uses the system's.
#include <windows.h>

class MembershipOperations {
public:
    virtual ~MembershipOperations() = default;
    virtual BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount,
                                          DWORD subAuthority0, DWORD subAuthority1, PSID* sid) = 0;
    virtual BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) = 0;
    virtual void FreeSid(PSID sid) = 0;
};

// The Win32 implementation; one object for the process.
MembershipOperations& SystemMembershipOperations();

// A filtered (not elevated) administrator token counts as not a member, and
// so does any failure on the way.
bool IsUserAdministrator(MembershipOperations& operations = SystemMembershipOperations());
