#include "log/LoggerLock.h"

namespace KvQmtLogging {

bool LoggerLock::TryEnter(DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    AcquireSRWLockExclusive(&guard_);
    while (busy_) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            ReleaseSRWLockExclusive(&guard_);
            return false;
        }
        SleepConditionVariableSRW(&released_, &guard_, static_cast<DWORD>(deadline - now), 0);
    }
    busy_ = true;
    ReleaseSRWLockExclusive(&guard_);
    return true;
}

void LoggerLock::Leave() {
    AcquireSRWLockExclusive(&guard_);
    busy_ = false;
    ReleaseSRWLockExclusive(&guard_);
    WakeConditionVariable(&released_);
}

}  // namespace KvQmtLogging
