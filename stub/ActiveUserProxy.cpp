#include "stub/ActiveUserProxy.h"

#include <sddl.h>

#include "common/LastErrorKeeper.h"
#include "common/RegistryString.h"
#include "common/UniqueHandle.h"
#include "download/QmtDownloadInstance.h"
#include "stub/ConnectionSettings.h"
#include "stub/ProxyChain.h"
#include "stub/StubInstaller.h"
#include "stub/WinHttpProxy.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogDebug;
using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;
using QmtDownload::RouteOrigin;

const wchar_t kInternetSettingsSubkey[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

namespace {

const DWORD kSidBufferBytes = 2048;
const DWORD kDomainBufferChars = 2048;
const DWORD kProxyServerChars = 260;

// Memory handed out by the session table, given back to the same table.
class SessionMemory {
public:
    explicit SessionMemory(SessionApi& sessions) : sessions_(sessions) {}
    ~SessionMemory() { reset(); }
    SessionMemory(const SessionMemory&) = delete;
    SessionMemory& operator=(const SessionMemory&) = delete;

    void reset() {
        if (memory_) {
            kv::LastErrorKeeper keeper;
            sessions_.FreeMemory(memory_);
            memory_ = nullptr;
        }
    }
    template <typename T>
    T* as() const { return static_cast<T*>(memory_); }
    template <typename T>
    T** put() {
        reset();
        return reinterpret_cast<T**>(&memory_);
    }

private:
    SessionApi& sessions_;
    void* memory_ = nullptr;
};

bool IsServicesSession(const WTS_SESSION_INFOW& session) {
    return session.pWinStationName != nullptr && ::lstrcmpiW(session.pWinStationName, L"Services") == 0;
}

// The session list gives no promise of a terminated name; the query result is
// read no further than its byte count.
std::wstring SessionString(const wchar_t* text, DWORD bytes) {
    if (text == nullptr) return std::wstring();
    const size_t limit = bytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < limit && text[length] != L'\0') ++length;
    return std::wstring(text, length);
}

// Registry calls return their error instead of setting it; the log lines
// report the thread's last error, so it is made to be that error.
LSTATUS WithLastError(LSTATUS status) {
    ::SetLastError(static_cast<DWORD>(status));
    return status;
}

// True for the session of the user at the console: active, and not the
// isolated System session.
bool VerifySessionIsActive(const WTS_SESSION_INFOW& session) {
    const wchar_t* const kFunction = L"VerifySessionIsActive";
    const int id = static_cast<int>(session.SessionId);
    LogMessage(LogDebug, L"%s: Session %d state is %d", kFunction, id, static_cast<int>(session.State));
    if (IsServicesSession(session)) {
        LogMessage(LogDebug, L"%s: Session %d is the isolated System session", kFunction, id);
        return false;
    }
    if (session.State != WTSActive) return false;
    LogMessage(LogDebug, L"%s: Found active session %d", kFunction, id);
    return true;
}


// ProxyEnable and ProxyServer, with the lines they have always been logged
// with; the enabled proxy text, or empty.
std::wstring ReadLegacyProxy(HKEY key) {
    const wchar_t* const kFunction = L"UseProxyFromActiveUser";
    DWORD enabled = 0;
    DWORD enabledType = REG_NONE;
    DWORD size = sizeof(enabled);
    if (WithLastError(::RegQueryValueExW(key, L"ProxyEnable", nullptr, &enabledType,
                                         reinterpret_cast<BYTE*>(&enabled), &size)) != ERROR_SUCCESS) {
        LogMessage(LogWarning, L"%s: Failed to read value '%s': %lu", kFunction, L"ProxyEnable", ::GetLastError());
        enabled = 0;
    } else if (enabledType != REG_DWORD || size != sizeof(enabled)) {
        // Only a number switches the proxy on: the text "0" or four stray
        // bytes of another type would otherwise read as enabled.
        LogMessage(LogWarning, L"%s: Value '%s' has type %lu and %lu bytes, not a REG_DWORD: no proxy", kFunction,
                   L"ProxyEnable", enabledType, size);
        enabled = 0;
    }

    // A value of another type (an unexpanded REG_EXPAND_SZ among them) is
    // not a proxy text to trust.
    std::wstring server;
    const kv::RegistryStringRead read = kv::ReadRegistryString(
        key, L"ProxyServer", kv::RegistryStringTypes::Plain, kProxyServerChars * sizeof(wchar_t), server);
    if (!read) {
        WithLastError(read.error);
        LogMessage(LogWarning, L"%s: Failed to read value '%s': %lu", kFunction, L"ProxyServer", ::GetLastError());
        server.clear();
    } else if (server.size() >= kProxyServerChars) {
        // Stored without its terminator: the text is cut to what a terminated
        // value of the largest size taken holds.
        server.resize(kProxyServerChars - 1);
    }
    return enabled != 0 ? server : std::wstring();
}

// The logged-on user's whole proxy configuration; false when no user is
// found or their settings cannot be opened.
bool ReadUserSettings(SessionApi& sessions, ConnectionSettings& settings) {
    const wchar_t* const kFunction = L"UseProxyFromActiveUser";
    const std::wstring sid = FindLoggedInUserSessionSID(sessions);
    if (sid.empty()) {
        LogMessage(LogWarning, L"%s: No user SID - can't read proxy settings", kFunction);
        return false;
    }
    // The user's settings live in the 64-bit view on a 64-bit system, and the
    // program is a 32-bit process.
    const std::wstring keyPath = sid + kInternetSettingsSubkey;
    kv::unique_hkey key;
    if (WithLastError(::RegOpenKeyExW(HKEY_USERS, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                                      key.put())) != ERROR_SUCCESS) {
        LogMessage(LogWarning, L"%s: Failed to open 'HKU\\%s': %lu", kFunction, keyPath.c_str(), ::GetLastError());
        return false;
    }
    const std::wstring legacyProxy = ReadLegacyProxy(key.get());
    key.reset();
    if (!ReadConnectionSettings(HKEY_USERS, keyPath, settings)) return false;
    if (!settings.binary) {
        // Without the binary value the named proxy is the one the older
        // values enable, read as above.
        settings.proxy = legacyProxy;
        settings.flags = (settings.flags & ~ConnectionSettings::kNamedProxy) |
                         (legacyProxy.empty() ? 0 : ConnectionSettings::kNamedProxy);
    }
    if (settings.UsesNamedProxy()) {
        LogMessage(LogInfo, L"%s: Setting proxy '%s' for downloads", kFunction, settings.proxy.c_str());
    } else {
        LogMessage(LogInfo, L"%s: IE proxy was not enabled for user '%s'", kFunction, sid.c_str());
    }
    return true;
}

// The policy's proxy setting, resolved for the URL where it is a script or
// detection.
void UsePolicy(const MachinePolicy& policy, const std::wstring& url, ProxyChain::Sources& sources) {
    switch (policy.proxyMode) {
        case PolicyProxyMode::Direct:
            sources.policyDirect = true;
            break;
        case PolicyProxyMode::AutoDetect:
        case PolicyProxyMode::PacScript:
            sources.policySetsProxy = true;
            sources.policyAutomatic = WinHttpProxy::Resolve(
                url, policy.proxyMode == PolicyProxyMode::PacScript ? policy.proxyPacUrl : std::wstring(),
                policy.proxyMode == PolicyProxyMode::AutoDetect, RouteOrigin::Policy);
            break;
        case PolicyProxyMode::FixedServers:
            sources.policySetsProxy = true;
            sources.policyNamed = {policy.proxyServer, policy.proxyBypassList};
            break;
        case PolicyProxyMode::System:
        case PolicyProxyMode::Unset:
            break;
    }
}
}  // namespace

std::wstring ReadFullUserNameFromWTS(SessionApi& sessions, DWORD sessionId) {
    const wchar_t* const kFunction = L"ReadFullUserNameFromWTS";
    SessionMemory buffer(sessions);
    DWORD bytes = 0;
    if (!sessions.QuerySessionInformation(sessionId, WTSUserName, buffer.put<wchar_t>(), &bytes)) {
        LogMessage(LogWarning, L"%s: Failed to WTSQuerySessionInformation(%d, WTSUserName). LE=0x%x", kFunction,
                   static_cast<int>(sessionId), ::GetLastError());
        return std::wstring();
    }
    const std::wstring user = SessionString(buffer.as<wchar_t>(), bytes);
    buffer.reset();
    if (user.empty()) {
        LogMessage(LogWarning, L"%s: There is no logged on user in session %d. Ignoring session.", kFunction,
                   static_cast<int>(sessionId));
        return std::wstring();
    }

    bytes = 0;
    const BOOL domainRead = sessions.QuerySessionInformation(sessionId, WTSDomainName, buffer.put<wchar_t>(), &bytes);
    const DWORD domainError = ::GetLastError();
    const std::wstring domain = domainRead ? SessionString(buffer.as<wchar_t>(), bytes) : std::wstring();
    buffer.reset();
    if (domain.empty()) {
        LogMessage(LogWarning,
                   L"%s: Cannot get domain name. WTSQuerySessionInformation(%d, WTSDomainName). LE=0x%x. Return only "
                   L"user name",
                   kFunction, static_cast<int>(sessionId), domainRead ? 0u : domainError);
        return user;
    }
    const std::wstring fullName = domain + L"\\" + user;
    LogMessage(LogInfo, L"%s: Session full user name: %s", kFunction, fullName.c_str());
    return fullName;
}

std::wstring FindUserSessionSID(SessionApi& sessions, DWORD sessionId) {
    const wchar_t* const kFunction = L"FindUserSessionSID";
    const std::wstring user = ReadFullUserNameFromWTS(sessions, sessionId);
    if (user.empty()) return std::wstring();

    // Far larger than any answer (a SID takes at most SECURITY_MAX_SID_SIZE,
    // 68 bytes; a domain name at most 255 characters), so one call always does;
    // the last SID byte is never offered, and the domain is ended after the call.
    BYTE sid[kSidBufferBytes] = {};
    wchar_t domain[kDomainBufferChars] = {};
    DWORD sidSize = kSidBufferBytes - 1;
    DWORD domainSize = kDomainBufferChars;
    SID_NAME_USE use = SidTypeUnknown;
    if (!sessions.LookupAccountName(nullptr, user.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
        LogMessage(LogWarning, L"%s: LookupAccountName failed for user %s with LE=%d", kFunction, user.c_str(),
                   static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    domain[kDomainBufferChars - 1] = L'\0';
    LogMessage(LogDebug, L"%s: LookupAccountName returned SID with domain=%s", kFunction, domain);

    kv::unique_hlocal text;
    if (!::IsValidSid(sid) || !::ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put()))) {
        LogMessage(LogWarning, L"%s: ConvertSidToStringSidW failed for user %s with LE=%d", kFunction, user.c_str(),
                   static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    const std::wstring result(static_cast<const wchar_t*>(text.get()));
    LogMessage(LogInfo, L"%s: SID converted to %s", kFunction, result.c_str());
    return result;
}

std::wstring FindLoggedInUserSessionSID(SessionApi& sessions) {
    const wchar_t* const kFunction = L"FindLoggedInUserSessionSID";
    SessionMemory list(sessions);
    DWORD count = 0;
    if (!sessions.EnumerateSessions(0, 1, list.put<WTS_SESSION_INFOW>(), &count)) {
        LogMessage(LogWarning, L"%s: Failed to enumerate sessions with error %d", kFunction,
                   static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    LogMessage(LogDebug, L"%s: WTSEnumerateSessions() returned %d sessions", kFunction, static_cast<int>(count));

    std::wstring sid;
    const WTS_SESSION_INFOW* const entries = list.as<WTS_SESSION_INFOW>();
    for (DWORD i = 0; entries != nullptr && i < count && sid.empty(); ++i) {
        if (VerifySessionIsActive(entries[i])) sid = FindUserSessionSID(sessions, entries[i].SessionId);
    }
    list.reset();
    LogMessage(LogDebug, L"%s: Active user sid %s", kFunction, sid.c_str());
    return sid;
}

void UseProxyFromActiveUser() { UseProxyFromActiveUser(Win32SessionApi::Instance()); }

void UseProxyFromActiveUser(SessionApi& sessions) {
    UseProxyFromActiveUser(sessions, ReadMachinePolicy(), kInstallerUrl);
}

void UseProxyFromActiveUser(SessionApi& sessions, const MachinePolicy& policy, const std::wstring& url) {
    const wchar_t* const kFunction = L"UseProxyFromActiveUser";
    ProxyChain::Sources sources;
    UsePolicy(policy, url, sources);
    if (!sources.policyDirect) {
        ConnectionSettings settings;
        bool found = false;
        if (ProxySettingsPerMachine()) {
            LogMessage(LogInfo, L"%s: Proxy settings are per machine: reading the machine's", kFunction);
            found = ReadConnectionSettings(HKEY_LOCAL_MACHINE, kInternetSettingsSubkey + 1, settings);
        } else {
            found = ReadUserSettings(sessions, settings);
        }
        if (found) {
            if (!sources.policySetsProxy && (settings.UsesScript() || settings.UsesAutoDetect())) {
                sources.userAutomatic =
                    WinHttpProxy::Resolve(url, settings.UsesScript() ? settings.scriptUrl : std::wstring(),
                                          settings.UsesAutoDetect(), RouteOrigin::UserAutomatic);
            }
            if (settings.UsesNamedProxy()) sources.userNamed = {settings.proxy, settings.bypass};
        }
        WinHttpProxy::MachineDefault(sources.machineWinHttp.proxy, sources.machineWinHttp.bypass);
    }
    QmtDownload::SetDownloadRoutes(ProxyChain::Build(sources, ProxyChain::UrlHost(url)));
}
