#pragma once
// The download goes through the proxy of the user at the machine, not that of
// the account the program runs under: find the first active interactive
// session, turn its user into a string SID, read that user's Internet
// Settings below HKEY_USERS (script, detection, named proxy and bypass list),
// and hand the download engine the ways to try, in order, with the policy's
// proxy setting first. Nothing here fails the job; a failure only means that
// fewer ways are tried.
#include <string>

#include "stub/MachinePolicy.h"
#include "stub/SessionApi.h"

// Below HKEY_USERS\<SID>.
extern const wchar_t kInternetSettingsSubkey[];

// Sets the download engine's ways for the installer's URL, under the machine policy.
void UseProxyFromActiveUser();
void UseProxyFromActiveUser(SessionApi& sessions);
// The same for a policy and a URL of the caller's.
void UseProxyFromActiveUser(SessionApi& sessions, const MachinePolicy& policy, const std::wstring& url);

// The string SID of the first active session (not "Services") that yields
// one; empty when none does.
std::wstring FindLoggedInUserSessionSID(SessionApi& sessions);

// The string SID of the session's user; empty on failure.
std::wstring FindUserSessionSID(SessionApi& sessions, DWORD sessionId);

// "domain\user", the bare user name when the domain cannot be read, empty
// when the session has no user.
std::wstring ReadFullUserNameFromWTS(SessionApi& sessions, DWORD sessionId);
