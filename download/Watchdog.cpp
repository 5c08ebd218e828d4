#include "download/Watchdog.h"

#include "log/KvQmtLog.h"

namespace QmtDownload {

WatchdogVerdict CheckWatchdog(DWORD now, DWORD startTick, DWORD lastActivity, DWORD stallMs, DWORD overallMs) {
    if (overallMs != 0 && now - startTick >= overallMs) return WatchdogVerdict::Overdue;
    if (stallMs != 0 && now - lastActivity >= stallMs) return WatchdogVerdict::Stalled;
    return WatchdogVerdict::InTime;
}

Watchdog::Watchdog(Tick tick, DWORD_PTR context, DWORD periodMs) : tick_(tick), context_(context) {
    const wchar_t* const kFunction = L"QmtDownload::Watchdog::Watchdog";
    if (!::CreateTimerQueueTimer(&timer_, nullptr, &Watchdog::OnTimer, this, periodMs, periodMs,
                                 WT_EXECUTEDEFAULT)) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: CreateTimerQueueTimer failed: %lu",
                                 kFunction, ::GetLastError());
        timer_ = nullptr;
    }
}

Watchdog::~Watchdog() {
    if (timer_ != nullptr) ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
}

void CALLBACK Watchdog::OnTimer(void* parameter, BOOLEAN) {
    const Watchdog* self = static_cast<const Watchdog*>(parameter);
    self->tick_(self->context_);
}

}  // namespace QmtDownload
