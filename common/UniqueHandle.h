#pragma once
// One move-only owner for every kind of Win32 handle. The close function and the
// empty value come from a traits type, so that each handle kind is one line.
// The kinds every layer uses are here; a kind that one subsystem alone uses
// (GDI font, WinINet handle, SID) has its traits in kv::traits beside its users.
#include <windows.h>

#include <utility>

#include "common/LastErrorKeeper.h"

namespace kv {

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // Closing keeps the thread's last-error value: callers log and then read it.
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            LastErrorKeeper keeper;
            Traits::close(old);
        }
    }

    // For out-parameters of the API: the old value is closed first.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

namespace traits {
struct Handle {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct FileHandle {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct RegKey {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct LocalMemory {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::LocalFree(h); }
};
// A held mutex: "closing" it releases the ownership, not the handle.
struct MutexRelease {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::ReleaseMutex(h); }
};
}  // namespace traits

using unique_handle = unique_any<traits::Handle>;
using unique_hfile = unique_any<traits::FileHandle>;
using unique_hkey = unique_any<traits::RegKey>;
using unique_hlocal = unique_any<traits::LocalMemory>;
using mutex_release = unique_any<traits::MutexRelease>;

}  // namespace kv
