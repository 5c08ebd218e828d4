#pragma once
// Downloads one URL over HTTP or HTTPS into one file on WinINet in
// asynchronous mode: a HEAD first when a local copy exists, then nothing (the
// copy is current), a GET resuming the copy under If-Unmodified-Since, or a
// full GET; transient failures retried, a failing proxy given up for the
// preconfigured connection.
#include <windows.h>
#include <wininet.h>

#include <memory>

#include "DownloadJob.h"

namespace QmtDownload {

class Downloader : public DownloadJob {
public:
    static constexpr DWORD kBufferSize = 0xFFFF;

    explicit Downloader(const wchar_t* url);
    // Waits for a running download to end (it is cancelled first) and for any
    // WinINet callback still inside this object. Never destroy a Downloader
    // from inside its own callback.
    ~Downloader();

    // Starts the download and returns; the callback reports progress and,
    // exactly once, the end (possibly before Start returns). The security
    // attributes (or none) are used for the destination and its metafile and
    // must stay valid until the end is reported.
    void Start(const wchar_t* path, DownloadCallback callback, void* context, SECURITY_ATTRIBUTES* security);

private:
    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                        DWORD infoLength);

    bool Begin();
    void StartRequest();
    bool PrepareRequest();
    HINTERNET CreateFileRequest();
    void ProcessJob(DWORD error);
    DWORD SendRequest();
    DWORD ReadHeader();
    DWORD ApplyHeader(const Header& header);
    bool ContinuesLocalFile(const Header& header) const;
    void StoreHeader(std::unique_ptr<Header> header);
    DWORD ReceiveData();
    DWORD WriteReceived();
    bool HasFileChanged(const Header* header) const;
    void FinalizeOrRetry();
    void CloseRequest();
    void Finish();

    std::unique_ptr<BYTE[]> buffer_;
    DWORD bytesRead_ = 0;
    std::atomic<bool> cancelRequested_{false};
};

}  // namespace QmtDownload
