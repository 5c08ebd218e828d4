#include "stub/SessionApi.h"

Win32SessionApi& Win32SessionApi::Instance() {
    static Win32SessionApi instance;
    return instance;
}

BOOL Win32SessionApi::EnumerateSessions(DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions, DWORD* count) {
    return ::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, reserved, version, sessions, count);
}

BOOL Win32SessionApi::QuerySessionInformation(DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                              DWORD* bytesReturned) {
    return ::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, infoClass, buffer, bytesReturned);
}

void Win32SessionApi::FreeMemory(void* memory) { ::WTSFreeMemory(memory); }

BOOL Win32SessionApi::LookupAccountName(const wchar_t* systemName, const wchar_t* accountName, PSID sid,
                                        DWORD* sidSize, wchar_t* domain, DWORD* domainSize, SID_NAME_USE* use) {
    return ::LookupAccountNameW(systemName, accountName, sid, sidSize, domain, domainSize, use);
}
