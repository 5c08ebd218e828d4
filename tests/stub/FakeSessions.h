#pragma once
// A session table of the test's own: sessions, their users and the accounts
// they resolve to, with every allocation counted so that a leak shows.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "stub/SessionApi.h"

struct FakeSession {
    DWORD id;
    const wchar_t* station;  // null: the list gives no name
    WTS_CONNECTSTATE_CLASS state;
};

struct FakeUser {
    std::wstring user;
    std::wstring domain;
    bool userQueryFails = false;
    bool domainQueryFails = false;
};

class FakeSessions : public SessionApi {
public:
    std::vector<FakeSession> sessions;
    std::map<DWORD, FakeUser> users;
    std::map<std::wstring, std::wstring> accounts;  // account name as looked up -> string SID
    bool enumerationFails = false;

    std::vector<DWORD> queriedSessions;  // each WTSUserName query, in order
    std::vector<std::wstring> lookedUp;  // each account lookup, in order
    int outstanding = 0;                 // allocations not yet given back

    BOOL EnumerateSessions(DWORD reserved, DWORD version, PWTS_SESSION_INFOW* list, DWORD* count) override;
    BOOL QuerySessionInformation(DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                 DWORD* bytesReturned) override;
    void FreeMemory(void* memory) override;
    BOOL LookupAccountName(const wchar_t* systemName, const wchar_t* accountName, PSID sid, DWORD* sidSize,
                           wchar_t* domain, DWORD* domainSize, SID_NAME_USE* use) override;

private:
    void* Allocate(size_t bytes);
};
