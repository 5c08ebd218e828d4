#pragma once
// Downloads one URL over HTTP or HTTPS into one file on WinINet in
// asynchronous mode: a HEAD first when a local copy exists, then nothing (the
// copy is current), a GET resuming the copy under If-Unmodified-Since, or a
// full GET; transient failures retried, a failing proxy given up for the
// preconfigured connection.
#include <windows.h>
#include <wininet.h>

#include <memory>

#include "download/DownloadJob.h"

namespace QmtDownload {

class Downloader : public DownloadJob {
public:
    static constexpr DWORD kBufferSize = 0xFFFF;
    // The longest wait for any progress of a request before it ends as
    // NetworkTimeout (and is retried as such).
    static constexpr DWORD kDefaultStallLimitMs = 60000;

    // overallLimitMs bounds the whole download, retries included (0: no
    // bound); past it the download ends as NetworkTimeout without retry.
    // readSize is the largest piece read and written at once.
    explicit Downloader(const wchar_t* url, DWORD stallLimitMs = kDefaultStallLimitMs, DWORD overallLimitMs = 0,
                        DWORD readSize = kBufferSize);
    // Waits for a running download to end (it is cancelled first) and for any
    // WinINet callback still inside this object. Never destroy a Downloader
    // from inside its own callback.
    ~Downloader();

    // Starts the download and returns; the callback reports progress and,
    // exactly once, the end (possibly before Start returns). The security
    // attributes (or none) are used for the destination and its metafile and
    // must stay valid until the end is reported.
    void Start(const wchar_t* path, DownloadCallback callback, void* context, SECURITY_ATTRIBUTES* security);
    // The same into an empty file that the caller created and keeps open for
    // writing (the handle is duplicated; path names it for the log): the
    // whole body is fetched from its first byte, on a retry too, and nothing
    // is read from or written beside the file.
    void StartFresh(const wchar_t* path, HANDLE created, DownloadCallback callback, void* context);
    // A body longer than this many bytes (announced or received) ends the
    // download as DiskFull instead of filling the disk; 0: no limit.
    void SetSizeLimit(DWORD bytes) { sizeLimit_ = bytes; }

private:
    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                        DWORD infoLength);

    static void WatchdogTick(DWORD_PTR context);
    void CheckProgress();
    bool Begin();
    bool ClaimAndBegin(DownloadCallback callback, void* context);
    void StartRequest();
    bool PrepareRequest();
    HINTERNET CreateFileRequest();
    void ProcessJob(DWORD error);
    void ProcessSteps(DWORD error);
    DWORD SendRequest();
    DWORD ReadHeader();
    DWORD ApplyHeader(const Header& header);
    void StoreHeader(std::unique_ptr<Header> header);
    DWORD ReceiveData();
    DWORD WriteReceived();
    bool HasFileChanged(const Header* header) const;
    // Ends the download as DiskFull when bytes pass the size limit.
    bool ExceedsSizeLimit(ULONGLONG bytes);
    void FinalizeOrRetry();
    void CloseRequest();
    void Finish();

    // Everything an asynchronous InternetReadFile writes into, the count
    // included, in one block: a read the watchdog gave up on may still
    // complete, so the block is let go of (never freed) with the request.
    struct ReceiveBlock {
        DWORD bytesRead = 0;
        BYTE data[kBufferSize];
    };
    const DWORD readSize_;
    std::unique_ptr<ReceiveBlock> receive_;
    DWORD sizeLimit_ = 0;
    bool rangeSent_ = false;  // the current request asked for a range
    // Last, so that it goes first: no tick runs once destruction has begun.
    std::unique_ptr<Watchdog> watchdog_;
};

}  // namespace QmtDownload
