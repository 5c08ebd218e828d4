#pragma once
// The terminal-services and account calls behind the search for the active
// user's session. The real program uses the system's functions; tests hand
// in sessions and accounts of their own (Wine lists no sessions at all).
#include <windows.h>
#include <wtsapi32.h>

class SessionApi {
public:
    virtual ~SessionApi() = default;

    // WTSEnumerateSessionsW on the local server; the list is freed with FreeMemory.
    virtual BOOL EnumerateSessions(DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions, DWORD* count) = 0;
    // WTSQuerySessionInformationW on the local server; the buffer is freed with FreeMemory.
    virtual BOOL QuerySessionInformation(DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                         DWORD* bytesReturned) = 0;
    // WTSFreeMemory.
    virtual void FreeMemory(void* memory) = 0;
    // LookupAccountNameW.
    virtual BOOL LookupAccountName(const wchar_t* systemName, const wchar_t* accountName, PSID sid, DWORD* sidSize,
                                   wchar_t* domain, DWORD* domainSize, SID_NAME_USE* use) = 0;
};

// The system's functions.
class Win32SessionApi : public SessionApi {
public:
    static Win32SessionApi& Instance();

    BOOL EnumerateSessions(DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions, DWORD* count) override;
    BOOL QuerySessionInformation(DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                 DWORD* bytesReturned) override;
    void FreeMemory(void* memory) override;
    BOOL LookupAccountName(const wchar_t* systemName, const wchar_t* accountName, PSID sid, DWORD* sidSize,
                           wchar_t* domain, DWORD* domainSize, SID_NAME_USE* use) override;
};
