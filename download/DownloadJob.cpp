#include "download/DownloadJob.h"

#include "download/DownloadPolicy.h"
#include "download/DownloadResult.h"
#include "download/QmtDownloadInstance.h"
#include "download/Win32ErrorText.h"
#include "log/KvQmtLog.h"

namespace QmtDownload {

namespace {
using KvQmtLogging::LogMessage;
}  // namespace

DownloadJob::DownloadJob(const wchar_t* url, DWORD stallLimitMs, DWORD overallLimitMs)
    : url_(url),
      routes_(1, ProxyRoute{RouteOrigin::Preconfigured, std::wstring()}),
      stallLimitMs_(stallLimitMs),
      overallLimitMs_(overallLimitMs),
      idle_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

HINTERNET DownloadJob::Request() {
    kv::CriticalSectionHold hold(lock_);
    return request_.get();
}

void DownloadJob::SetRequest(HINTERNET request) {
    kv::CriticalSectionHold hold(lock_);
    request_.reset(request);
    ++requestSerial_;
    aborted_ = overdue_ ? WatchdogVerdict::Overdue : WatchdogVerdict::InTime;
    abortClosed_ = false;
}

DownloadJob::WatchdogView DownloadJob::LookForWatchdog() {
    kv::CriticalSectionHold hold(lock_);
    WatchdogView view;
    view.request = !abandoned_ && (request_ || abortClosed_) ? requestSerial_ : 0;
    view.entries = entries_;
    view.closed = abortClosed_;
    view.closedTick = abortTick_;
    return view;
}

bool DownloadJob::EndJudgedRequest(const WatchdogView& seen, WatchdogVerdict reason) {
    HINTERNET request = nullptr;
    {
        kv::CriticalSectionHold hold(lock_);
        if (!request_ || abortClosed_ || seen.request != requestSerial_) return false;
        // A trickle never stalls, so an overdue download ends even while
        // its bytes come in.
        if (reason == WatchdogVerdict::Stalled && seen.entries != entries_) return false;
        aborted_ = reason;
        if (reason == WatchdogVerdict::Overdue) overdue_ = true;
        abortClosed_ = true;
        abortTick_ = ::GetTickCount();
        entriesAtAbort_ = entries_;
        request = request_.release();
    }
    ::InternetCloseHandle(request);
    return true;
}

bool DownloadJob::AbandonClosedRequest(const WatchdogView& seen) {
    kv::CriticalSectionHold hold(lock_);
    if (abandoned_ || !abortClosed_ || busy_ != 0 || entries_ != entriesAtAbort_ || requestSerial_ != seen.request) {
        return false;
    }
    abandoned_ = true;
    return true;
}

void DownloadJob::CloseRequestNow() {
    HINTERNET request = nullptr;
    {
        kv::CriticalSectionHold hold(lock_);
        request = request_.release();
    }
    if (request) ::InternetCloseHandle(request);
}

DWORD DownloadJob::AbortError() {
    if (cancelRequested_.load()) return ERROR_INTERNET_OPERATION_CANCELLED;
    kv::CriticalSectionHold hold(lock_);
    return aborted_ == WatchdogVerdict::InTime ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_INTERNET_TIMEOUT);
}

DownloadJob::~DownloadJob() = default;

bool DownloadJob::Claim(DownloadCallback callback, void* context) {
    kv::CriticalSectionHold hold(lock_);
    if (running_.load()) return false;
    running_.store(true);
    ::ResetEvent(idle_.get());
    callback_ = callback;
    context_ = context;
    return true;
}

bool DownloadJob::WaitIdle(DWORD milliseconds) const {
    return ::WaitForSingleObject(idle_.get(), milliseconds) == WAIT_OBJECT_0;
}

void DownloadJob::OpenConnection(INTERNET_STATUS_CALLBACK statusCallback) {
    const wchar_t* const kFunction = L"QmtDownload::DownloadJob::OpenConnection";
    if (connection_) return;
    const ProxyRoute& route = CurrentRoute();
    LogMessage(KvQmtLogging::LogInfo, L"%s: Connecting to '%s' through connection %u of %u: %s", kFunction,
               url_.host(), static_cast<unsigned>(route_ + 1), static_cast<unsigned>(routes_.size()),
               RouteName(route).c_str());
    HINTERNET session = QmtDownloadInstance::Get().GetRouteHandle(route);
    if (route.IsProxy()) usedProxy_ = true;
    connection_.reset(::InternetConnectW(session, url_.host(), url_.port(), nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                         0, callbackContext_));
    if (!connection_) {
        const DWORD error = session ? ::GetLastError() : ERROR_INVALID_HANDLE;
        LogMessage(KvQmtLogging::LogError, L"%s: Failed InternetConnect: %s",
                   kFunction, FormatWin32Error(error).c_str());
        MapWin32Error(error);
        return;
    }
    ::InternetSetStatusCallbackW(connection_.get(), statusCallback);
}

void DownloadJob::CloseConnection() {
    if (!connection_) return;
    ::InternetSetStatusCallbackW(connection_.get(), nullptr);
    connection_.reset();
}

void DownloadJob::ResetForRequest() {
    lastActivity_.store(::GetTickCount());
    kv::CriticalSectionHold hold(lock_);
    result_ = 0;
    win32Error_ = 0;
    lastStatus_ = 0;
    step_ = StepSend;
}

void DownloadJob::SetStep(DownloadStep step) {
    kv::CriticalSectionHold hold(lock_);
    if (step == StepDone || step_ != StepDone) step_ = step;
}

DownloadStep DownloadJob::GetStep() {
    kv::CriticalSectionHold hold(lock_);
    return step_;
}

void DownloadJob::SetResult(DWORD result) {
    {
        kv::CriticalSectionHold hold(lock_);
        // The first failure of a request is the one reported.
        if (result != 0 && result_ == 0) result_ = result;
    }
    SetStep(StepDone);
}

DWORD DownloadJob::GetResult() {
    kv::CriticalSectionHold hold(lock_);
    return result_;
}

void DownloadJob::MapWin32Error(DWORD error) {
    {
        kv::CriticalSectionHold hold(lock_);
        win32Error_ = error;
    }
    if (error == 0) {
        SetStep(StepDone);
        return;
    }
    SetResult(ResultFromWin32Error(error));
}

bool DownloadJob::ShouldRetry() {
    const wchar_t* const kFunction = L"QmtDownload::DownloadJob::ShouldRetry";
    DWORD result = 0;
    DWORD win32Error = 0;
    bool overdue = false;
    {
        kv::CriticalSectionHold hold(lock_);
        result = result_;
        win32Error = win32Error_;
        overdue = overdue_;
    }
    if (overdue || cancelRequested_.load()) return false;
    if (!MoveToNextRoute(result, win32Error)) {
        if (!IsRetryable(result, retries_)) return false;
        LogMessage(KvQmtLogging::LogInfo, L"%s: SHOULD retry (count=%lu, err=%s, win32err=%lu",
                   kFunction, retries_, ResultName(result), win32Error);
        ++retries_;
    }
    kv::CriticalSectionHold hold(lock_);
    result_ = 0;
    win32Error_ = 0;
    return true;
}

bool DownloadJob::MoveToNextRoute(DWORD result, DWORD win32Error) {
    const wchar_t* const kFunction = L"QmtDownload::DownloadJob::MoveToNextRoute";
    if (route_ + 1 >= routes_.size()) return false;
    const DWORD received = file_ ? file_->sessionBytes() : 0;
    const MoveOnReason reason = WhyMoveOn(result, lastStatus_, CurrentRoute().IsProxy(), received);
    if (reason == MoveOnReason::None) return false;
    LogMessage(KvQmtLogging::LogInfo, L"%s: Connection %u (%s) failed: %s (%s, HTTP %lu, Win32 %lu); trying %s",
               kFunction, static_cast<unsigned>(route_ + 1), RouteName(CurrentRoute()).c_str(), MoveOnText(reason),
               ResultName(result), lastStatus_, win32Error, RouteName(routes_[route_ + 1]).c_str());
    ++route_;
    CloseConnection();
    return true;
}

DWORD DownloadJob::RouteRequestFlags() const {
    // Without this WinINet answers a proxy's NTLM or Negotiate challenge
    // with the logon of the account the program runs under.
    return CurrentRoute().MayUseMachineCredentials() ? 0 : static_cast<DWORD>(INTERNET_FLAG_NO_AUTH);
}

void DownloadJob::ReportProgress() {
    if (!callback_ || !file_) return;
    callback_(context_, DownloadProgress, file_->currentSize(), file_->expectedSize());
}

void DownloadJob::JobComplete() {
    const wchar_t* const kFunction = L"QmtDownload::DownloadJob::JobComplete";
    endTick_ = ::GetTickCount();
    mode_ = ModeIdle;
    LogSummary();

    DWORD flags = upToDate_ ? static_cast<DWORD>(DownloadUpToDate) : 0;
    QmtDownloadInstance& instance = QmtDownloadInstance::Get();
    DWORD result = GetResult();
    if (result == Success && route_ != 0 && instance.KeepRoutesFrom(CurrentRoute())) {
        // Ways that failed are not tried first again in this run.
        if (CurrentRoute().IsProxy()) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: Automatically disabling failed connections, further calls will "
                       L"use %s", kFunction, RouteName(CurrentRoute()).c_str());
        } else {
            LogMessage(KvQmtLogging::LogInfo,
                       L"%s: Automatically disabling invalid proxy, further calls will use direct connection",
                       kFunction);
        }
        flags |= DownloadProxyDisabled;
    }

    DownloadCallback callback = nullptr;
    void* context = nullptr;
    {
        kv::CriticalSectionHold hold(lock_);
        if (!running_.load()) {
            // Never a second end for one start.
            LogMessage(KvQmtLogging::LogError, L"%s: Download already reported as finished", kFunction);
            return;
        }
        callback = callback_;
        context = context_;
        running_.store(false);
    }
    // The caller may destroy this object as soon as its callback has run on
    // another thread; the destructor waits for this event, which is set last.
    HANDLE idle = idle_.get();
    if (callback) callback(context, DownloadFinished, result, flags);
    ::SetEvent(idle);
}

void DownloadJob::LogSummary() {
    DWORD elapsed = endTick_ - startTick_;
    if (static_cast<LONG>(elapsed) <= 0) elapsed = 1;
    DWORD result = 0;
    DWORD win32Error = 0;
    {
        kv::CriticalSectionHold hold(lock_);
        result = result_;
        win32Error = win32Error_;
    }
    const bool success = result == Success;
    const int level = success ? KvQmtLogging::LogInfo : KvQmtLogging::LogWarning;
    const wchar_t* proxyMark = usedProxy_ && (!success || CurrentRoute().IsProxy()) ? L"[proxy]" : L"";
    // Which way carried the download (or was tried last).
    const std::wstring via = L" via " + RouteName(CurrentRoute());
    const DWORD status = header_ ? header_->status() : 0;
    KvQmtLogging::Logger& log = QmtDownloadInstance::Get().SummaryLog();

    if (!file_) {
        log.Log(level, L"(HEAD) %s '%s': (%lu retries) %s[HTTP %lu][Win32 %lu] in %lums%s", ResultName(result),
                url_.text(), retries_, proxyMark, status, win32Error, elapsed, via.c_str());
    } else if (upToDate_) {
        log.Log(level, L"(FILE) %s '%s' -> '%s': UP-TO-DATE (%lu retries)%s in %lums%s", ResultName(result),
                url_.text(), file_->path(), retries_, proxyMark, elapsed, via.c_str());
    } else {
        const DWORD bytes = file_->sessionBytes();
        log.Log(level,
                L"(FILE) %s '%s' -> '%s':(%lu retries) %s[HTTP %lu][Win32 %lu] in %lums (%lu bytes -> %lukB/s)%s",
                ResultName(result), url_.text(), file_->path(), retries_, proxyMark, status, win32Error, elapsed,
                bytes, bytes / elapsed, via.c_str());
    }
}

}  // namespace QmtDownload
