#pragma once
// The one object of a type for the whole process: made by the first caller,
// whichever thread that is, while later callers wait for it, and destroyed at
// exit. Its storage is static, so that an exit handler that runs later still
// finds the object's memory rather than a freed block. A class with a private
// constructor or destructor names kv::ProcessWide<Class> its friend.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace kv {

template <typename T>
class ProcessWide {
public:
    static T& Get() {
        if (state_.load(std::memory_order_acquire) != kReady) {
            LONG expected = kNotMade;
            if (state_.compare_exchange_strong(expected, kBeingMade, std::memory_order_acq_rel)) {
                new (static_cast<void*>(storage_)) T();
                std::atexit(&Destroy);
                state_.store(kReady, std::memory_order_release);
            } else {
                while (state_.load(std::memory_order_acquire) != kReady) ::SwitchToThread();
            }
        }
        return *Object();
    }

private:
    enum : LONG { kNotMade, kBeingMade, kReady };

    static T* Object() { return std::launder(reinterpret_cast<T*>(storage_)); }
    static void Destroy() { Object()->~T(); }

    static inline std::atomic<LONG> state_{kNotMade};
    alignas(T) static inline unsigned char storage_[sizeof(T)];
};

}  // namespace kv
