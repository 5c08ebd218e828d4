#pragma once
// The please-wait window as the installer download's waiter: the dialog runs
// modally and closes itself on the timer tick after its stop flag is set.
#include "app/UpgradeDialog.h"
#include "stub/DownloadWaiter.h"

class PleaseWaitWaiter : public DownloadWaiter {
public:
    explicit PleaseWaitWaiter(UpgradeDialog& dialog) : dialog_(dialog) {}
    void WaitForDownload() override { dialog_.DoModal(); }
    void DownloadEnded() override { dialog_.m_stopSignalled = true; }

private:
    UpgradeDialog& dialog_;
};
