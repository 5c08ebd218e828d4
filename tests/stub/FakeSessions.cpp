#include "tests/stub/FakeSessions.h"

#include <sddl.h>

#include <cstring>

void* FakeSessions::Allocate(size_t bytes) {
    ++outstanding;
    return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void FakeSessions::FreeMemory(void* memory) {
    if (memory == nullptr) return;
    --outstanding;
    ::HeapFree(::GetProcessHeap(), 0, memory);
}

BOOL FakeSessions::EnumerateSessions(DWORD, DWORD, PWTS_SESSION_INFOW* list, DWORD* count) {
    if (enumerationFails) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // One block, as the system gives it: the records, then the names.
    size_t bytes = sessions.size() * sizeof(WTS_SESSION_INFOW);
    for (const FakeSession& s : sessions) {
        if (s.station) bytes += (wcslen(s.station) + 1) * sizeof(wchar_t);
    }
    BYTE* block = static_cast<BYTE*>(Allocate(bytes + sizeof(wchar_t)));
    WTS_SESSION_INFOW* records = reinterpret_cast<WTS_SESSION_INFOW*>(block);
    wchar_t* names = reinterpret_cast<wchar_t*>(block + sessions.size() * sizeof(WTS_SESSION_INFOW));
    for (size_t i = 0; i < sessions.size(); ++i) {
        records[i].SessionId = sessions[i].id;
        records[i].State = sessions[i].state;
        records[i].pWinStationName = nullptr;
        if (sessions[i].station) {
            wcscpy(names, sessions[i].station);
            records[i].pWinStationName = names;
            names += wcslen(sessions[i].station) + 1;
        }
    }
    *list = records;
    *count = static_cast<DWORD>(sessions.size());
    return TRUE;
}

BOOL FakeSessions::QuerySessionInformation(DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                           DWORD* bytesReturned) {
    if (infoClass == WTSUserName) queriedSessions.push_back(sessionId);
    const auto found = users.find(sessionId);
    const bool fails = found == users.end() ||
                       (infoClass == WTSUserName && found->second.userQueryFails) ||
                       (infoClass == WTSDomainName && found->second.domainQueryFails) ||
                       (infoClass != WTSUserName && infoClass != WTSDomainName);
    if (fails) {
        ::SetLastError(found == users.end() ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::wstring& text = infoClass == WTSUserName ? found->second.user : found->second.domain;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    wchar_t* copy = static_cast<wchar_t*>(Allocate(bytes));
    memcpy(copy, text.c_str(), bytes);
    *buffer = copy;
    *bytesReturned = static_cast<DWORD>(bytes);
    return TRUE;
}

BOOL FakeSessions::LookupAccountName(const wchar_t*, const wchar_t* accountName, PSID sid, DWORD* sidSize,
                                     wchar_t* domain, DWORD* domainSize, SID_NAME_USE* use) {
    lookedUp.push_back(accountName);
    const auto found = accounts.find(accountName);
    if (found == accounts.end()) {
        ::SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    PSID made = nullptr;
    if (!::ConvertStringSidToSidW(found->second.c_str(), &made)) return FALSE;
    const DWORD length = ::GetLengthSid(made);
    const std::wstring name(accountName);
    const std::wstring domainName = name.find(L'\\') == std::wstring::npos ? L"WORKSTATION" : name.substr(0, name.find(L'\\'));
    if (*sidSize < length || *domainSize <= domainName.size()) {
        *sidSize = length;
        *domainSize = static_cast<DWORD>(domainName.size() + 1);
        ::LocalFree(made);
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    ::CopySid(*sidSize, sid, made);
    ::LocalFree(made);
    wcscpy(domain, domainName.c_str());
    *sidSize = length;
    *domainSize = static_cast<DWORD>(domainName.size());
    *use = SidTypeUser;
    return TRUE;
}
