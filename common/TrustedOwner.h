#pragma once
// Whether a place that the elevated tool writes in, or reads instructions
// from, is under no other account's control: its owner may change its
// access list at will, so the owner must be an account that already holds
// every right the tool uses.
#include <windows.h>

namespace kv {

// SYSTEM, the Administrators, TrustedInstaller, or the account this process
// runs as (which is itself an administrator, as the tool always runs
// elevated).
bool IsTrustedOwner(PSID sid);

// The descriptor's owner is trusted, it has an access list, and no entry
// of that list that applies to the object itself allows another account
// any of writeRights.
bool OnlyTrustedCanWrite(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK writeRights);

}  // namespace kv
