#pragma once
// What the installer download needs of whoever waits with the user while it
// runs: to be run until the download has ended, and to be told, from the
// download's worker thread, that it has. The application hands in its
// please-wait window, or a waiter without a window when nobody can see one.
// The end it is told of is the end of the installer's whole fetch, check and
// start, and in an unattended run of the wait for the installer too.

class DownloadWaiter {
public:
    virtual ~DownloadWaiter() = default;
    // Runs on the main thread and returns once DownloadEnded has been called
    // (it may return earlier; the download is waited for after it anyway).
    virtual void WaitForDownload() = 0;
    // Called once, on a worker thread, when the download has ended.
    virtual void DownloadEnded() = 0;
};
