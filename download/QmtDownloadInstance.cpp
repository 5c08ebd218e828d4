#include "download/QmtDownloadInstance.h"

#include "download/Win32ErrorText.h"
#include "log/KvQmtLog.h"
#include "log/LoggerConfig.h"

namespace QmtDownload {

namespace {

const wchar_t kUserAgent[] = L"KvQmtDownload";

RouteList PreconfiguredOnly() { return RouteList{ProxyRoute{RouteOrigin::Preconfigured, std::wstring()}}; }

}  // namespace

QmtDownloadInstance::QmtDownloadInstance() : routes_(PreconfiguredOnly()) {
    summaryLog_.Configure(KvQmtLogging::LogFlagQuietMarkers | KvQmtLogging::LogFlagDeferOpen, L"QMT",
                          L"downloaded_files");
}

QmtDownloadInstance& QmtDownloadInstance::Get() { return kv::ProcessWide<QmtDownloadInstance>::Get(); }

HINTERNET QmtDownloadInstance::GetHandle() {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::GetHandle";
    kv::CriticalSectionHold hold(lock_);
    if (!session_) {
        session_.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                       INTERNET_FLAG_ASYNC));
        if (!session_) {
            KvQmtLogging::LogMessage(KvQmtLogging::LogFatal, L"%s: Failed to initialize WinInet: %s", kFunction,
                                     FormatWin32Error(::GetLastError()).c_str());
        }
    }
    return session_.get();
}

HINTERNET QmtDownloadInstance::GetRouteHandle(const ProxyRoute& route) {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::GetProxyHandle";
    if (route.origin == RouteOrigin::Preconfigured) return GetHandle();
    kv::CriticalSectionHold hold(lock_);
    for (const RouteSession& held : routeSessions_) {
        if (held.route == route && held.route.MayUseMachineCredentials() == route.MayUseMachineCredentials()) {
            return held.session.get();
        }
    }
    unique_hinternet session;
    if (route.IsProxy()) {
        session.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PROXY, route.proxy.c_str(), nullptr,
                                      INTERNET_FLAG_ASYNC));
        if (!session) {
            KvQmtLogging::LogMessage(KvQmtLogging::LogFatal, L"%s: Failed to initialize WinInet (proxy '%s'): %s",
                                     kFunction, route.proxy.c_str(), FormatWin32Error(::GetLastError()).c_str());
        }
    } else {
        session.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC));
        if (!session) {
            KvQmtLogging::LogMessage(KvQmtLogging::LogFatal, L"%s: Failed to initialize WinInet (direct): %s",
                                     kFunction, FormatWin32Error(::GetLastError()).c_str());
        }
    }
    if (!session) return nullptr;
    routeSessions_.push_back(RouteSession{route, std::move(session)});
    return routeSessions_.back().session.get();
}

void QmtDownloadInstance::SetRoutes(const RouteList& routes) {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::SetRoutes";
    RouteList kept = DropConsecutiveDuplicates(routes);
    if (kept.empty()) kept = PreconfiguredOnly();
    for (size_t i = 0; i < kept.size(); ++i) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogInfo, L"%s: Connection %u: %s", kFunction,
                                 static_cast<unsigned>(i + 1), RouteName(kept[i]).c_str());
    }
    kv::CriticalSectionHold hold(lock_);
    routes_ = kept;
    // Sessions of ways no longer listed close; open connections keep theirs.
    routeSessions_.clear();
}

RouteList QmtDownloadInstance::Routes() {
    kv::CriticalSectionHold hold(lock_);
    return routes_;
}

bool QmtDownloadInstance::KeepRoutesFrom(const ProxyRoute& route) {
    kv::CriticalSectionHold hold(lock_);
    for (size_t i = 1; i < routes_.size(); ++i) {
        if (routes_[i] == route && routes_[i].origin == route.origin) {
            routes_.erase(routes_.begin(), routes_.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

bool QmtDownloadInstance::HasProxy() {
    kv::CriticalSectionHold hold(lock_);
    for (const ProxyRoute& route : routes_) {
        if (route.IsProxy()) return true;
    }
    return false;
}

void QmtDownloadInstance::SetProxy(const wchar_t* proxy) {
    const wchar_t* const kFunction = L"QmtDownload::QmtDownloadInstance::SetProxy";
    const bool clear = proxy == nullptr || *proxy == L'\0';
    KvQmtLogging::LogMessage(KvQmtLogging::LogInfo, L"%s: Setting proxy to '%s'",
                             kFunction, clear ? L"<disabled>" : proxy);
    RouteList routes = PreconfiguredOnly();
    if (!clear) routes.insert(routes.begin(), ProxyRoute{RouteOrigin::UserNamed, proxy});
    kv::CriticalSectionHold hold(lock_);
    routes_ = routes;
    routeSessions_.clear();
}

void SetDownloadProxy(const wchar_t* proxy) { QmtDownloadInstance::Get().SetProxy(proxy); }

void SetDownloadRoutes(const RouteList& routes) { QmtDownloadInstance::Get().SetRoutes(routes); }

}  // namespace QmtDownload
