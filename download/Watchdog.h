#pragma once
// The download's own clock. WinINet's time-outs do not hold everywhere (Wine
// ignores those of the session, and a server that trickles a byte at a time
// defeats them anyway), so a periodic timer looks at the download and the
// download closes its request when it has stalled or run too long: the
// pending operation then completes and the download ends.
#include <windows.h>

namespace QmtDownload {

enum class WatchdogVerdict { InTime, Stalled, Overdue };

// stallMs: the longest wait for any progress; overallMs: the longest whole
// download (0: no limit). Tick counts wrap; differences do not.
WatchdogVerdict CheckWatchdog(DWORD now, DWORD startTick, DWORD lastActivity, DWORD stallMs, DWORD overallMs);

// A timer-queue timer that calls tick(context) every periodMs until it is
// destroyed; destruction waits for a tick that is running.
class Watchdog {
public:
    using Tick = void (*)(DWORD_PTR context);
    Watchdog(Tick tick, DWORD_PTR context, DWORD periodMs);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool running() const { return timer_ != nullptr; }

private:
    static void CALLBACK OnTimer(void* parameter, BOOLEAN);

    Tick tick_;
    DWORD_PTR context_;
    HANDLE timer_ = nullptr;
};

}  // namespace QmtDownload
