#pragma once
// Maps the context values handed to WinINet onto live download objects.
//
// WinINet may call the status callback late: after a handle was closed, or
// on a worker thread that is still inside the callback while the owner is
// being destroyed. The context value is therefore a number that is never
// reused, looked up under a lock; a download that unregisters waits until no
// other thread is inside a callback for it, and later callbacks find nothing.
#include <windows.h>

namespace QmtDownload {

class Downloader;

class CallbackRegistry {
public:
    static DWORD_PTR Register(Downloader* downloader);
    // Once this returns, no callback for the id runs on another thread and
    // none will reach the download again.
    static void Unregister(DWORD_PTR id);

    // The download behind an id for the length of one callback, or none.
    class Visit {
    public:
        explicit Visit(DWORD_PTR id);
        ~Visit();
        Visit(const Visit&) = delete;
        Visit& operator=(const Visit&) = delete;
        Downloader* get() const { return downloader_; }

    private:
        DWORD_PTR id_;
        DWORD_PTR outerId_;
        Downloader* downloader_;
    };
};

}  // namespace QmtDownload
