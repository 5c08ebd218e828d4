#pragma once
// The process-wide holder of the download library's WinINet sessions (one for
// each way of reaching a server), the ordered ways themselves and the summary
// log of every download.
#include <windows.h>

#include <string>
#include <vector>

#include "common/CriticalSection.h"
#include "common/ProcessWide.h"
#include "download/InternetHandle.h"
#include "download/ProxyRoute.h"
#include "log/Logger.h"

namespace QmtDownload {

class QmtDownloadInstance {
public:
    // Made on first use, destroyed at process exit.
    static QmtDownloadInstance& Get();

    // The preconfigured session, opened on first use (none when that failed).
    HINTERNET GetHandle();
    // The session of one way, opened on first use; none when that failed.
    HINTERNET GetRouteHandle(const ProxyRoute& route);
    // The ways a download tries, in order; never empty (at least the
    // preconfigured connection). Later downloads use the new list.
    void SetRoutes(const RouteList& routes);
    RouteList Routes();
    // Drops the ways listed before this one; false when it is not listed
    // (the list changed meanwhile) or is already the first.
    bool KeepRoutesFrom(const ProxyRoute& route);
    // True while a proxy is among the ways.
    bool HasProxy();
    // None or an empty text: only the preconfigured connection; else the
    // user's proxy and then the preconfigured connection.
    void SetProxy(const wchar_t* proxy);

    // The summary log: K-Vantor\logs\QMT\downloaded_files.log.
    KvQmtLogging::Logger& SummaryLog() { return summaryLog_; }

    QmtDownloadInstance(const QmtDownloadInstance&) = delete;
    QmtDownloadInstance& operator=(const QmtDownloadInstance&) = delete;

private:
    QmtDownloadInstance();
    // The summary log ends with its end marker, not the auto-closed one.
    ~QmtDownloadInstance() { summaryLog_.EndLog(); }
    friend class kv::ProcessWide<QmtDownloadInstance>;

    struct RouteSession {
        ProxyRoute route;
        unique_hinternet session;
    };

    unique_hinternet session_;
    kv::CriticalSection lock_;
    KvQmtLogging::Logger summaryLog_;
    RouteList routes_;
    std::vector<RouteSession> routeSessions_;
};

// Sets (or, with none or an empty text, clears) the proxy of every later
// connection, as WinINet takes it ("host:port").
void SetDownloadProxy(const wchar_t* proxy);
// Sets the ways every later download tries, in order.
void SetDownloadRoutes(const RouteList& routes);

}  // namespace QmtDownload
