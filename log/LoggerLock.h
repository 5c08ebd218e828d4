#pragma once
// The lock of one Logger: like a critical section, but a thread waits for it
// only for a bounded time. A thread stuck inside the file layer (a file held
// by another process, a slow disk) then costs the other threads that log a
// lost line each, never their progress.
#include <windows.h>

namespace KvQmtLogging {

class LoggerLock {
public:
    LoggerLock() = default;
    LoggerLock(const LoggerLock&) = delete;
    LoggerLock& operator=(const LoggerLock&) = delete;

    // False when the lock was not had within the time.
    bool TryEnter(DWORD milliseconds);
    void Leave();

private:
    SRWLOCK guard_ = SRWLOCK_INIT;
    CONDITION_VARIABLE released_ = CONDITION_VARIABLE_INIT;
    bool busy_ = false;
};

class LoggerLockHold {
public:
    LoggerLockHold(LoggerLock& lock, DWORD milliseconds) : lock_(lock), held_(lock.TryEnter(milliseconds)) {}
    ~LoggerLockHold() {
        if (held_) lock_.Leave();
    }
    LoggerLockHold(const LoggerLockHold&) = delete;
    LoggerLockHold& operator=(const LoggerLockHold&) = delete;

    explicit operator bool() const { return held_; }

private:
    LoggerLock& lock_;
    bool held_;
};

}  // namespace KvQmtLogging
