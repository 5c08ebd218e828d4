#pragma once
// The bookkeeping of one download: its connection, result, retries, proxy use
// and completion. The request steps that drive it are Downloader's.
#include <windows.h>

#include <atomic>
#include <memory>

#include "common/CriticalSection.h"
#include "download/DownloadCallback.h"
#include "download/File.h"
#include "download/Header.h"
#include "download/InternetHandle.h"
#include "download/ProxyRoute.h"
#include "download/Url.h"
#include "download/Watchdog.h"

namespace QmtDownload {

enum DownloadMode : DWORD { ModeHead = 0, ModeGet = 1, ModeIdle = 3 };
enum DownloadStep : DWORD { StepSend = 0, StepHeaders = 1, StepRead = 2, StepWrite = 3, StepDone = 4 };

class DownloadJob {
public:
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;

protected:
    DownloadJob(const wchar_t* url, DWORD stallLimitMs, DWORD overallLimitMs);
    ~DownloadJob();

    // The value WinINet hands back to the status callback.
    DWORD_PTR callbackContext() const { return callbackContext_; }
    void SetCallbackContext(DWORD_PTR context) { callbackContext_ = context; }

    void OpenConnection(INTERNET_STATUS_CALLBACK statusCallback);
    void CloseConnection();
    void ResetForRequest();
    void SetStep(DownloadStep step);
    DownloadStep GetStep();
    void SetResult(DWORD result);
    DWORD GetResult();
    void MapWin32Error(DWORD error);
    // The request handle, read under the lock: the watchdog may take it.
    HINTERNET Request();
    void SetRequest(HINTERNET request);
    // What the watchdog saw of the job in one look under the lock.
    struct WatchdogView {
        DWORD request = 0;  // which request is current (0: none, or the download was given up)
        DWORD entries = 0;
        bool closed = false;  // the watchdog has closed this request already
        DWORD closedTick = 0;
    };
    WatchdogView LookForWatchdog();
    // Ends the request the watchdog judged, for the given reason, by taking
    // its handle and closing it, so that a pending operation completes and
    // the job ends with NetworkTimeout. Nothing happens when that request
    // is no longer current or, for a stall, when a completion has arrived
    // since the look: the verdict is then out of date.
    bool EndJudgedRequest(const WatchdogView& seen, WatchdogVerdict reason);
    // Gives up the request the watchdog closed when it has still not
    // completed, nor is a step of it running: from then on no late completion
    // reaches the job. False when the look is out of date.
    bool AbandonClosedRequest(const WatchdogView& seen);
    // Takes the request and closes it without waiting for its callbacks, so
    // that a pending operation completes where the platform does so.
    void CloseRequestNow();
    // What a completion means once the request was aborted: 0 while it was not.
    DWORD AbortError();
    bool ShouldRetry();
    // Moves to the next way when this failure calls for it; false otherwise.
    bool MoveToNextRoute(DWORD result, DWORD win32Error);
    // The way the current connection takes, and the request flags it needs.
    const ProxyRoute& CurrentRoute() const { return routes_[route_]; }
    DWORD RouteRequestFlags() const;
    // Ends the download: summary, proxy rule, the one DownloadFinished call.
    void JobComplete();
    void LogSummary();
    void ReportProgress();

    // Claims the job for a new start; false while one is still running.
    bool Claim(DownloadCallback callback, void* context);
    bool IsRunning() const { return running_.load(); }
    // Waits until the running download (if any) has reported its end.
    bool WaitIdle(DWORD milliseconds) const;

    std::unique_ptr<File> file_;
    std::unique_ptr<Header> header_;
    Url url_;
    DownloadMode mode_ = ModeIdle;
    DownloadStep step_ = StepDone;
    unique_hinternet connection_;
    unique_hinternet request_;
    kv::CriticalSection lock_;
    DWORD win32Error_ = 0;
    DWORD result_ = 0;
    DWORD startTick_ = 0;
    DWORD endTick_ = 0;
    DWORD retries_ = 0;
    bool upToDate_ = false;
    bool usedProxy_ = false;
    DownloadCallback callback_ = nullptr;
    void* context_ = nullptr;
    // The ways this download tries, taken at its start, and the current one.
    RouteList routes_;
    size_t route_ = 0;
    DWORD lastStatus_ = 0;  // the status of the last answer of this request, 0 for none
    const DWORD stallLimitMs_;
    const DWORD overallLimitMs_;
    std::atomic<DWORD> lastActivity_{0};
    std::atomic<bool> cancelRequested_{false};
    // Under the lock: why this request must end, whether and since when the
    // watchdog has closed it, which request is current, how many completions
    // the job has taken in and how many are being processed, so that the
    // watchdog acts only on what it judged and never beside a running step.
    WatchdogVerdict aborted_ = WatchdogVerdict::InTime;
    bool abortClosed_ = false;
    DWORD abortTick_ = 0;
    DWORD requestSerial_ = 0;
    DWORD entries_ = 0;
    DWORD entriesAtAbort_ = 0;
    DWORD busy_ = 0;
    bool overdue_ = false;  // the whole download ran out of time: no more retries
    bool abandoned_ = false;  // the watchdog ended the download without WinINet

private:
    DWORD_PTR callbackContext_ = 0;
    std::atomic<bool> running_{false};
    kv::unique_handle idle_;
};

}  // namespace QmtDownload
