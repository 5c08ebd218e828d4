#pragma once
// Keeps the thread's last-error value across a scope, for clean-up and
// logging that run between a failed call and the caller reading its error.
#include <windows.h>

namespace kv {

class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : saved_(::GetLastError()) {}
    ~LastErrorKeeper() { ::SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD saved_;
};

}  // namespace kv
