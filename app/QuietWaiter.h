#pragma once
// The installer download's waiter for a run without windows: the main thread
// blocks on an event that the download's end sets. Should the event not be
// made, the wait returns at once; the download is waited for after it anyway.
#include <windows.h>

#include "common/UniqueHandle.h"
#include "stub/DownloadWaiter.h"

class QuietWaiter : public DownloadWaiter {
public:
    QuietWaiter() : ended_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void WaitForDownload() override {
        if (ended_) ::WaitForSingleObject(ended_.get(), INFINITE);
    }
    void DownloadEnded() override {
        if (ended_) ::SetEvent(ended_.get());
    }

private:
    kv::unique_handle ended_;
};
