#include "download/Downloader.h"

#include "download/CallbackRegistry.h"
#include "download/DownloadResult.h"
#include "download/QmtDownloadInstance.h"
#include "download/Win32ErrorText.h"
#include "log/KvQmtLog.h"

#include <cwchar>
#include <string>

namespace QmtDownload {

namespace {

using KvQmtLogging::LogMessage;

// Without INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP: WinINet then refuses to
// follow an https answer to an http address (ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR).
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

// The address the answer came from, after any redirect; empty when unknown.
std::wstring AnsweredUrl(HINTERNET request) {
    DWORD size = 0;
    ::InternetQueryOptionW(request, INTERNET_OPTION_URL, nullptr, &size);
    if (size == 0) return std::wstring();
    std::wstring url(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(url.size() * sizeof(wchar_t));
    if (!::InternetQueryOptionW(request, INTERNET_OPTION_URL, &url[0], &size)) return std::wstring();
    url.resize(wcsnlen(url.c_str(), url.size()));
    return url;
}

// How long a destructor waits for a cancelled download to report its end;
// past that the receive buffer is left allocated, since WinINet may still
// complete a read into it.
constexpr DWORD kCancelWaitMs = 60000;

}  // namespace

// How often the watchdog looks: a quarter of the stall limit, within bounds
// that keep it cheap and still prompt.
static DWORD WatchdogPeriod(DWORD stallLimitMs) {
    const DWORD quarter = stallLimitMs / 4;
    return quarter < 50 ? 50 : quarter > 1000 ? 1000 : quarter;
}

// How long a closed request may take to report its end before the download
// ends without it: half the stall limit, and never less than a few looks.
static DWORD AbandonGrace(DWORD stallLimitMs) {
    const DWORD limit = stallLimitMs != 0 ? stallLimitMs : Downloader::kDefaultStallLimitMs;
    const DWORD half = limit / 2;
    const DWORD fewest = 4 * WatchdogPeriod(limit);
    return half < fewest ? fewest : half;
}

Downloader::Downloader(const wchar_t* url, DWORD stallLimitMs, DWORD overallLimitMs, DWORD readSize)
    : DownloadJob(url, stallLimitMs, overallLimitMs),
      readSize_(readSize != 0 && readSize < kBufferSize ? readSize : kBufferSize),
      receive_(new ReceiveBlock) {
    SetCallbackContext(CallbackRegistry::Register(this));
    watchdog_ = std::make_unique<Watchdog>(&Downloader::WatchdogTick, callbackContext(), WatchdogPeriod(stallLimitMs));
}

void Downloader::WatchdogTick(DWORD_PTR context) {
    CallbackRegistry::Visit visit(context);
    if (Downloader* self = visit.get()) self->CheckProgress();
}

void Downloader::CheckProgress() {
    if (!IsRunning()) return;
    const wchar_t* const kFunction = L"QmtDownload::Downloader::CheckProgress";
    if (cancelRequested_.load()) {
        CloseRequestNow();
        return;
    }
    const WatchdogView seen = LookForWatchdog();
    if (seen.request == 0) return;
    // Read before the clock, so that activity never lies in the future.
    const DWORD lastActivity = lastActivity_.load();
    const DWORD now = ::GetTickCount();
    if (!seen.closed) {
        const WatchdogVerdict verdict = CheckWatchdog(now, startTick_, lastActivity, stallLimitMs_, overallLimitMs_);
        if (verdict == WatchdogVerdict::InTime || !EndJudgedRequest(seen, verdict)) return;
        if (verdict == WatchdogVerdict::Stalled) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Nothing received for %lu ms, request closed", kFunction,
                       stallLimitMs_);
        } else {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Download took longer than %lu ms, request closed", kFunction,
                       overallLimitMs_);
        }
        return;
    }
    // Closing the request completes its pending operation where the
    // platform does so; where that completion is lost, the download ends
    // without it, so that its owner is never left waiting.
    if (now - seen.closedTick < AbandonGrace(stallLimitMs_) || !AbandonClosedRequest(seen)) return;
    LogMessage(KvQmtLogging::LogError, L"%s: The closed request never completed, ending the download without it",
               kFunction);
    MapWin32Error(ERROR_INTERNET_TIMEOUT);
    Finish();
}

Downloader::~Downloader() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::~Downloader";
    if (IsRunning()) {
        LogMessage(KvQmtLogging::LogError, L"%s: Destroyed while downloading '%s', cancelling", kFunction, url_.text());
        cancelRequested_.store(true);
        // A pending operation completes once its request is closed.
        CloseRequestNow();
        if (!WaitIdle(kCancelWaitMs)) {
            LogMessage(KvQmtLogging::LogError, L"%s: Download did not end, keeping its buffer", kFunction);
            receive_.release();
        }
    }
    watchdog_.reset();
    // An operation given up by the watchdog may still write into the block.
    if (abandoned_) receive_.release();
    CallbackRegistry::Unregister(callbackContext());
    CloseRequest();
    CloseConnection();
}

void CALLBACK Downloader::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                         DWORD infoLength) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    CallbackRegistry::Visit visit(context);
    Downloader* self = visit.get();
    if (!self) return;
    DWORD error = ERROR_INTERNET_INTERNAL_ERROR;
    if (info && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        error = result->dwResult ? ERROR_SUCCESS : result->dwError;
        if (!result->dwResult && error == ERROR_SUCCESS) error = ERROR_INTERNET_INTERNAL_ERROR;
    }
    self->ProcessJob(error);
}

bool Downloader::ClaimAndBegin(DownloadCallback callback, void* context) {
    // Logs under the name of its caller, QmtDownload::Downloader::Start.
    const wchar_t* const kFunction = L"QmtDownload::Downloader::Start";
    if (!Claim(callback, context)) {
        LogMessage(KvQmtLogging::LogError, L"%s: A download of '%s' is still running", kFunction, url_.text());
        if (callback) callback(context, DownloadFinished, UnknownError, 0);
        return false;
    }
    file_.reset();
    if (!Begin()) {
        JobComplete();
        return false;
    }
    return true;
}

void Downloader::StartFresh(const wchar_t* path, HANDLE created, DownloadCallback callback, void* context) {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::StartFresh";
    if (!ClaimAndBegin(callback, context)) return;
    // A header kept from an earlier start would steer this one to a resume.
    header_.reset();
    HANDLE own = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), created, ::GetCurrentProcess(), &own, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        const DWORD error = ::GetLastError();
        LogMessage(KvQmtLogging::LogError, L"%s: DuplicateHandle(%s) failed: %s",
                   kFunction, path, FormatWin32Error(error).c_str());
        own = INVALID_HANDLE_VALUE;
    }
    file_ = std::make_unique<File>(path, File::Created{own});
    if (!file_->isOpen()) {
        {
            kv::CriticalSectionHold hold(lock_);
            win32Error_ = ERROR_INVALID_HANDLE;
        }
        SetResult(FileAccess);
        Finish();
        return;
    }
    mode_ = ModeGet;
    StartRequest();
}

void Downloader::Start(const wchar_t* path, DownloadCallback callback, void* context,
                       SECURITY_ATTRIBUTES* security) {
    if (!ClaimAndBegin(callback, context)) return;
    file_ = std::make_unique<File>(path, security);
    const DWORD openError = file_->OpenIfExists();
    if (openError != ERROR_SUCCESS) {
        {
            kv::CriticalSectionHold hold(lock_);
            win32Error_ = openError;
        }
        SetResult(FileAccess);
        Finish();
        return;
    }
    if (!header_ && file_->isOpen()) {
        mode_ = ModeHead;
        StartRequest();
        return;
    }
    mode_ = ModeGet;
    if (file_->IsComplete() && !HasFileChanged(header_.get())) {
        upToDate_ = true;
        Finish();
        return;
    }
    StartRequest();
}

bool Downloader::Begin() {
    kv::CriticalSectionHold hold(lock_);
    result_ = 0;
    retries_ = 0;
    win32Error_ = 0;
    upToDate_ = false;
    usedProxy_ = false;
    routes_ = QmtDownloadInstance::Get().Routes();
    route_ = 0;
    cancelRequested_.store(false);
    overdue_ = false;
    abandoned_ = false;
    aborted_ = WatchdogVerdict::InTime;
    abortClosed_ = false;
    startTick_ = ::GetTickCount();
    lastActivity_.store(startTick_);
    if (header_ && header_->status() != 200) header_.reset();
    if (!url_.valid()) {
        result_ = InvalidUrl;
        step_ = StepDone;
        return false;
    }
    if (!watchdog_ || !watchdog_->running()) {
        // Without its clock a download could wait for ever.
        result_ = UnknownError;
        step_ = StepDone;
        return false;
    }
    return true;
}

void Downloader::StartRequest() {
    if (!PrepareRequest()) {
        FinalizeOrRetry();
        return;
    }
    ResetForRequest();
    ProcessJob(ERROR_SUCCESS);
}

bool Downloader::PrepareRequest() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::PrepareRequest";
    OpenConnection(&Downloader::StatusCallback);
    rangeSent_ = false;
    HINTERNET request = nullptr;
    if (mode_ == ModeGet) {
        request = CreateFileRequest();
    } else {
        LogMessage(KvQmtLogging::LogDebug, L"%s: Prepare HEAD request", kFunction);
        request = ::HttpOpenRequestW(connection_.get(), L"HEAD", url_.path(), nullptr, nullptr, nullptr,
                                     kRequestFlags | RouteRequestFlags() | (url_.isHttps() ? INTERNET_FLAG_SECURE : 0),
                                     callbackContext());
    }
    if (!request) {
        const DWORD error = ::GetLastError();
        LogMessage(KvQmtLogging::LogError, L"%s: Failed HttpOpenRequest: %s",
                   kFunction, FormatWin32Error(error).c_str());
        MapWin32Error(error == ERROR_SUCCESS ? ERROR_INVALID_HANDLE : error);
        return false;
    }
    // WinINet's own time-outs, where they are honoured (on the request: some
    // platforms ignore those of the session), are a second line behind the
    // watchdog: half again as long as the stall limit, so that the watchdog
    // has closed the request by then and the end reads as the time-out it
    // is, whatever error the platform reports for it.
    if (stallLimitMs_ != 0) {
        DWORD timeout = stallLimitMs_ + stallLimitMs_ / 2;
        if (timeout < stallLimitMs_) timeout = stallLimitMs_;
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
            ::InternetSetOptionW(request, option, &timeout, sizeof(timeout));
        }
    }
    SetRequest(request);
    return true;
}

HINTERNET Downloader::CreateFileRequest() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::CreateFileRequest";
    const DWORD flags = kRequestFlags | RouteRequestFlags() | (url_.isHttps() ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request =
        ::HttpOpenRequestW(connection_.get(), L"GET", url_.path(), nullptr, nullptr, nullptr, flags, callbackContext());
    rangeSent_ = false;
    if (!request) return nullptr;
    const DWORD current = file_->currentSize();
    if (!file_->isFresh() && file_->isOpen() && current != 0 && header_ && header_->hasLastModified()) {
        LogMessage(KvQmtLogging::LogDebug, L"%s: Prepare GET request from offset %lu", kFunction, current);
        wchar_t headers[256];
        const int length = _snwprintf(headers, ARRAYSIZE(headers), L"If-Unmodified-Since: %s\r\nRange: bytes=%lu-\r\n",
                                      header_->lastModifiedText(), current);
        if (length > 0 && static_cast<size_t>(length) < ARRAYSIZE(headers)) {
            rangeSent_ = ::HttpAddRequestHeadersW(request, headers, static_cast<DWORD>(length),
                                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA) != FALSE;
            if (!rangeSent_) {
                LogMessage(KvQmtLogging::LogError, L"%s: Adding headers failed: %s", kFunction,
                           FormatWin32Error(::GetLastError()).c_str());
            }
        }
    } else {
        LogMessage(KvQmtLogging::LogDebug, L"%s: Prepare GET request (full)", kFunction);
    }
    return request;
}

void Downloader::ProcessJob(DWORD error) {
    {
        kv::CriticalSectionHold hold(lock_);
        if (abandoned_) return;
        ++entries_;
        // The watchdog never gives up on a request while a step of it runs.
        ++busy_;
    }
    ProcessSteps(error);
    kv::CriticalSectionHold hold(lock_);
    --busy_;
}

void Downloader::ProcessSteps(DWORD error) {
    // Logs under the name of its caller, QmtDownload::Downloader::ProcessJob.
    const wchar_t* const kFunction = L"QmtDownload::Downloader::ProcessJob";
    // Whatever WinINet reports for a request that was closed under it, the
    // reason it was closed is the result.
    const DWORD abortError = AbortError();
    if (abortError != ERROR_SUCCESS) error = abortError;
    while (error == ERROR_SUCCESS) {
        lastActivity_.store(::GetTickCount());
        const DownloadStep step = GetStep();
        if (step == StepDone) break;
        switch (step) {
            case StepSend:
                SetStep(StepHeaders);
                error = SendRequest();
                break;
            case StepHeaders:
                SetStep(mode_ == ModeGet ? StepRead : StepDone);
                error = ReadHeader();
                break;
            case StepRead:
                SetStep(StepWrite);
                error = ReceiveData();
                break;
            case StepWrite:
                error = WriteReceived();
                break;
            case StepDone:
                break;
        }
    }
    // WinINet goes on with the operation and calls StatusCallback when it is
    // done; the step set before the call says where to continue.
    if (error == ERROR_IO_PENDING) return;
    if (error != ERROR_SUCCESS && AbortError() != ERROR_SUCCESS) error = AbortError();
    if (error != ERROR_SUCCESS) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Finishing job with error: %s",
                   kFunction, FormatWin32Error(error).c_str());
    }
    MapWin32Error(error);
    FinalizeOrRetry();
}

DWORD Downloader::SendRequest() {
    if (::HttpSendRequestW(Request(), nullptr, 0, nullptr, 0)) return ERROR_SUCCESS;
    return ::GetLastError();
}

DWORD Downloader::ReadHeader() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::ReadHeader";
    const HINTERNET request = Request();
    if (!request) return ERROR_INVALID_HANDLE;
    LogMessage(KvQmtLogging::LogDebug, L"%s: Received headers", kFunction);
    if (url_.isHttps()) {
        // A secure download never takes its bytes over plain http, whatever
        // a redirect says: not every platform refuses to follow one. (Where
        // the address cannot be read, the request flags are the guard.)
        const std::wstring answered = AnsweredUrl(request);
        if (!answered.empty() && _wcsnicmp(answered.c_str(), L"https:", 6) != 0) {
            LogMessage(KvQmtLogging::LogWarning, L"%s: Refusing the answer from '%s', redirected away from https",
                       kFunction, answered.c_str());
            return ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
        }
    }
    auto header = std::make_unique<Header>(request);
    header->LogHeader();
    lastStatus_ = header->status();
    const DWORD error = ApplyHeader(*header);
    StoreHeader(std::move(header));
    return error;
}

DWORD Downloader::ApplyHeader(const Header& header) {
    // Logs under the name of its caller, QmtDownload::Downloader::ReadHeader.
    const wchar_t* const kFunction = L"QmtDownload::Downloader::ReadHeader";
    if (header.status() == 0) {
        // No status line could be read: the peer (often a proxy) dropped the
        // connection, which some platforms report as an empty answer rather
        // than an error. A reset, to retry or route around.
        LogMessage(KvQmtLogging::LogWarning, L"%s: Aborting, the answer has no status", kFunction);
        return ERROR_INTERNET_CONNECTION_RESET;
    }
    if (!header.IsSuccess()) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Aborting, HTTP status: %lu %s", kFunction, header.status(),
                   header.statusText());
        SetResult(header.MapHttpStatus());
        if (header.status() != 412) return ERROR_SUCCESS;
        // The server's file changed since the stored Last-Modified: the
        // partial copy is worthless, and the retry fetches the whole file.
        header_.reset();
        return file_->Reset(File::kNoSize);
    }
    if (header.contentLengthTooLarge()) {
        // Sizes are 32-bit; a length that does not fit is refused rather
        // than wrapped into a wrong, small size.
        return ERROR_FILE_TOO_LARGE;
    }
    if (header.contentLengthMalformed()) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: Aborting, unusable Content-Length", kFunction);
        SetResult(HttpPermanentError);
        return ERROR_SUCCESS;
    }
    if (header.contentLength() != File::kNoSize && ExceedsSizeLimit(header.contentLength())) return ERROR_SUCCESS;
    DWORD error = ERROR_SUCCESS;
    if (header.status() == 200) {
        if (HasFileChanged(&header)) error = file_->Reset(header.contentLength());
        // A 200 answer carries the whole file: it is written from the start.
        if (mode_ == ModeGet && file_->currentSize() != 0) error = file_->Reset(header.contentLength());
        if (mode_ == ModeGet && error == ERROR_SUCCESS) file_->MarkIncomplete();
        return error;
    }
    // A HEAD carries no range: a partial answer to it is refused below.
    const DWORD local = file_->isOpen() ? file_->currentSize() : File::kNoSize;
    switch (CheckPartialAnswer(rangeSent_, local, file_->expectedSize(), header.contentRange(),
                               header.contentLength())) {
        case PartialVerdict::Continue:
            if (header.contentRange().hasTotal) file_->SetExpectedSize(static_cast<DWORD>(header.contentRange().total));
            return ERROR_SUCCESS;
        case PartialVerdict::Elsewhere:
            // Appending a range that starts elsewhere would corrupt the file.
            LogMessage(KvQmtLogging::LogWarning, L"%s: Partial answer does not continue the local file at %lu, "
                       L"fetching it whole", kFunction, file_->currentSize());
            SetResult(HttpRetryableError);
            header_.reset();
            return file_->Reset(File::kNoSize);
        case PartialVerdict::Refused:
            break;
    }
    // Taken as a whole file, a part would end as a short success.
    LogMessage(KvQmtLogging::LogWarning, L"%s: Aborting, partial answer to a request for %s", kFunction,
               rangeSent_ ? L"a range of another length" : L"the whole file");
    SetResult(HttpPermanentError);
    return ERROR_SUCCESS;
}

void Downloader::StoreHeader(std::unique_ptr<Header> header) {
    // The header of a successful HEAD outlives the ranged GET that follows it.
    if (header_ && header_->status() == 200) return;
    header_ = std::move(header);
}

DWORD Downloader::ReceiveData() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::ReceiveData";
    receive_->bytesRead = 0;
    if (::InternetReadFile(Request(), receive_->data, readSize_, &receive_->bytesRead)) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
        LogMessage(KvQmtLogging::LogWarning, L"%s: InternetReadFile failed: %s",
                   kFunction, FormatWin32Error(error).c_str());
    }
    return error;
}

DWORD Downloader::WriteReceived() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::WriteReceived";
    const DWORD received = receive_->bytesRead;
    if (received == 0) {
        SetStep(StepDone);
        const DWORD expected = file_->expectedSize();
        if (expected == File::kNoSize || file_->currentSize() == expected) return ERROR_SUCCESS;
        // WinINet reports a connection closed early as the end of the data;
        // a body shorter than announced is a reset connection, so that the
        // retry resumes it instead of a short file counting as a success.
        LogMessage(KvQmtLogging::LogWarning, L"%s: Body ended at %lu of %lu bytes",
                   kFunction, file_->currentSize(), expected);
        return ERROR_INTERNET_CONNECTION_RESET;
    }
    const DWORD current = file_->currentSize() == File::kNoSize ? 0 : file_->currentSize();
    if (ExceedsSizeLimit(static_cast<ULONGLONG>(current) + received)) return ERROR_SUCCESS;
    const DWORD error = file_->WriteData(receive_->data, received);
    ReportProgress();
    SetStep(StepRead);
    return error;
}

bool Downloader::ExceedsSizeLimit(ULONGLONG bytes) {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::ExceedsSizeLimit";
    if (sizeLimit_ == 0 || bytes <= sizeLimit_) return false;
    LogMessage(KvQmtLogging::LogError, L"%s: Aborting, the body is larger than the limit of %lu bytes", kFunction,
               sizeLimit_);
    SetResult(DiskFull);
    return true;
}

bool Downloader::HasFileChanged(const Header* header) const {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::HasFileChanged";
    if (!file_) return false;
    if (!header) header = header_.get();
    if (!header) return true;
    if (header->contentLength() != file_->expectedSize()) {
        if (file_->isOpen()) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: File size has changed: Local: %lu (%lu), remote: %lu",
                       kFunction, file_->currentSize(), file_->expectedSize(),
                       header->contentLength());
        }
        return true;
    }
    if (IsOlder(header->lastModified(), file_->GetLastModified())) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: File is older than server timestamp", kFunction);
        return true;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: File has not changed", kFunction);
    return false;
}

void Downloader::CloseRequest() {
    unique_hinternet request;
    {
        kv::CriticalSectionHold hold(lock_);
        request.reset(request_.release());
    }
    if (request) ::InternetSetStatusCallbackW(request.get(), nullptr);
}

void Downloader::FinalizeOrRetry() {
    const wchar_t* const kFunction = L"QmtDownload::Downloader::FinalizeOrRetry";
    CloseRequest();
    if (ShouldRetry()) {
        StartRequest();
        return;
    }
    if (mode_ != ModeHead) {
        Finish();
        return;
    }
    // A failed HEAD never goes on to a GET, whatever header it left.
    if (GetResult() == Success && header_ && header_->IsSuccess()) {
        if (file_->currentSize() != file_->expectedSize()) {
            mode_ = ModeGet;
            ReportProgress();
            StartRequest();
        } else {
            upToDate_ = true;
            Finish();
        }
        return;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Getting header failed -> don't attempt to download file", kFunction);
    Finish();
}

void Downloader::Finish() {
    CloseConnection();
    if (file_) file_->FinishWriting(GetResult() == Success);
    JobComplete();
}

}  // namespace QmtDownload
