#include "download/CallbackRegistry.h"

#include <map>

namespace QmtDownload {

namespace {

struct Entry {
    Downloader* downloader = nullptr;
    int activeVisits = 0;
};

SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_visitEnded = CONDITION_VARIABLE_INIT;
DWORD_PTR g_nextId = 1;

// Never destroyed: callbacks may still arrive while the process exits.
std::map<DWORD_PTR, Entry>& Entries() {
    static auto* entries = new std::map<DWORD_PTR, Entry>();
    return *entries;
}

// The id whose callback the current thread is running, if any: a download
// unregistering from inside its own callback must not wait for itself.
thread_local DWORD_PTR t_visitingId = 0;

}  // namespace

DWORD_PTR CallbackRegistry::Register(Downloader* downloader) {
    ::AcquireSRWLockExclusive(&g_lock);
    const DWORD_PTR id = g_nextId++;
    Entries()[id].downloader = downloader;
    ::ReleaseSRWLockExclusive(&g_lock);
    return id;
}

void CallbackRegistry::Unregister(DWORD_PTR id) {
    const int own = t_visitingId == id ? 1 : 0;
    ::AcquireSRWLockExclusive(&g_lock);
    // Looked up again after every wait: the last visit to end erases the
    // entry itself, and an iterator kept across the wait would then dangle.
    for (auto found = Entries().find(id); found != Entries().end(); found = Entries().find(id)) {
        found->second.downloader = nullptr;
        if (found->second.activeVisits <= own) {
            if (found->second.activeVisits == 0) Entries().erase(found);
            break;
        }
        ::SleepConditionVariableSRW(&g_visitEnded, &g_lock, INFINITE, 0);
    }
    ::ReleaseSRWLockExclusive(&g_lock);
}

CallbackRegistry::Visit::Visit(DWORD_PTR id) : id_(id), outerId_(t_visitingId), downloader_(nullptr) {
    ::AcquireSRWLockExclusive(&g_lock);
    auto found = Entries().find(id);
    if (found != Entries().end()) {
        ++found->second.activeVisits;
        downloader_ = found->second.downloader;
    }
    ::ReleaseSRWLockExclusive(&g_lock);
    t_visitingId = id;
}

CallbackRegistry::Visit::~Visit() {
    t_visitingId = outerId_;
    ::AcquireSRWLockExclusive(&g_lock);
    auto found = Entries().find(id_);
    if (found != Entries().end()) {
        --found->second.activeVisits;
        if (found->second.activeVisits == 0 && found->second.downloader == nullptr) Entries().erase(found);
    }
    ::ReleaseSRWLockExclusive(&g_lock);
    ::WakeAllConditionVariable(&g_visitEnded);
}

}  // namespace QmtDownload
