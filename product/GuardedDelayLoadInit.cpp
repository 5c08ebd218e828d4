#include "product/GuardedDelayLoadInit.h"

#include <cstdio>

#include "log/KvQmtLog.h"
#include "product/AnsiText.h"
#include "product/DelayLoadResolver.h"

using KvQmtLogging::LogMessage;

namespace {

class InitLock {
public:
    InitLock() { ::InitializeCriticalSection(&section_); }
    InitLock(const InitLock&) = delete;
    InitLock& operator=(const InitLock&) = delete;
    ~InitLock() { ::DeleteCriticalSection(&section_); }
    CRITICAL_SECTION* get() { return &section_; }

private:
    CRITICAL_SECTION section_;
};

// Leaves the section and clears the running init function on every path,
// an exception that passes on included.
class HeldInit {
public:
    explicit HeldInit(CRITICAL_SECTION* section) : section_(section) { ::EnterCriticalSection(section_); }
    HeldInit(const HeldInit&) = delete;
    HeldInit& operator=(const HeldInit&) = delete;
    ~HeldInit();

private:
    CRITICAL_SECTION* section_;
};

CRITICAL_SECTION* InitSection() {
    static InitLock lock;
    return lock.get();
}

DelayLoadInitFunction volatile g_currentInit = nullptr;

HeldInit::~HeldInit() {
    g_currentInit = nullptr;
    ::LeaveCriticalSection(section_);
}

template <size_t N>
void CopyCut(char (&target)[N], const std::string& text) {
    lstrcpynA(target, text.c_str(), static_cast<int>(N));
}

int CodeOf(DWORD exceptionCode) {
    switch (exceptionCode) {
    case kDelayLoadLibraryNotFound:
        return DelayLoadInitLibraryNotFound;
    case kDelayLoadEntryNotFound:
        return DelayLoadInitEntryNotFound;
    default:
        return DelayLoadInitBadDescriptor;
    }
}

}  // namespace

void FormatDelayLoadKeyPath(unsigned id, char (&keyPath)[1024]) {
    if (id == 0) {
        lstrcpynA(keyPath, "Software\\Tallowmere\\K-Vantor\\Delay Loading", 1024);
    } else {
        _snprintf(keyPath, 1023, "Software\\K-Vantor\\QMT\\Delay Loading\\%u", id);
        keyPath[1023] = '\0';
    }
}

int GuardedDelayLoadInit(unsigned id, DelayLoadInitFunction init, DelayLoadFailure* failure) {
    const wchar_t* const kFunction = L"GuardedDelayLoadInit";
    HeldInit held(InitSection());
    char keyPath[1024] = {};
    FormatDelayLoadKeyPath(id, keyPath);
    SetDelayLoadLookupLocation(HKEY_LOCAL_MACHINE, keyPath);
    g_currentInit = init;
    if (failure) {
        failure->libraryName[0] = '\0';
        failure->entryName[0] = '\0';
    }
    if (!init) {
        LogMessage(KvQmtLogging::LogError, L"%s: no init function for id %u", kFunction, id);
        if (failure) failure->code = DelayLoadInitBadDescriptor;
        return DelayLoadInitBadDescriptor;
    }
    try {
        init();
    } catch (const DelayLoadError& error) {
        const int code = CodeOf(error.code);
        LogMessage(KvQmtLogging::LogError, L"%s: init of %s for id %u failed with code %d, error %lu",
                   kFunction, AnsiToWide(error.libraryName).c_str(), id, code, error.lastError);
        if (failure) {
            failure->code = code;
            CopyCut(failure->libraryName, error.libraryName);
            if (code == DelayLoadInitEntryNotFound) CopyCut(failure->entryName, error.entryName);
        }
        return code;
    }
    return DelayLoadInitRan;
}

DelayLoadInitFunction CurrentDelayLoadInitFunction() { return g_currentInit; }
