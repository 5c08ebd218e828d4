#pragma once
// The process-wide holder of the download library's WinINet sessions (the
// preconfigured one and the one through the configured proxy), the proxy text
// and the summary log of every download.
#include <windows.h>

#include <memory>
#include <string>

#include "common/CriticalSection.h"
#include "common/ProcessWide.h"
#include "download/InternetHandle.h"
#include "log/Logger.h"

namespace QmtDownload {

class QmtDownloadInstance {
public:
    // Made on first use, destroyed at process exit.
    static QmtDownloadInstance& Get();

    // The preconfigured session, opened on first use (none when that failed).
    HINTERNET GetHandle();
    // The session through the proxy, opened on first use; none while no proxy is set.
    HINTERNET GetProxyHandle();
    // None or an empty text clears the proxy. Later proxied connections open a
    // new session with the new proxy; the preconfigured session stays.
    void SetProxy(const wchar_t* proxy);
    bool HasProxy();

    // The summary log: K-Vantor\logs\QMT\downloaded_files.log.
    KvQmtLogging::Logger& SummaryLog() { return summaryLog_; }

    QmtDownloadInstance(const QmtDownloadInstance&) = delete;
    QmtDownloadInstance& operator=(const QmtDownloadInstance&) = delete;

private:
    QmtDownloadInstance();
    // The summary log ends with its end marker, not the auto-closed one.
    ~QmtDownloadInstance() { summaryLog_.EndLog(); }
    friend class kv::ProcessWide<QmtDownloadInstance>;

    unique_hinternet session_;
    unique_hinternet proxySession_;
    kv::CriticalSection lock_;
    KvQmtLogging::Logger summaryLog_;
    std::unique_ptr<std::wstring> proxy_;
};

// Sets (or, with none or an empty text, clears) the proxy of every later
// connection, as WinINet takes it ("host:port").
void SetDownloadProxy(const wchar_t* proxy);

}  // namespace QmtDownload
