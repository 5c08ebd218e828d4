#include "product/GuardedDelayLoadInit.h"

#include <cstdio>

#include "common/CriticalSection.h"
#include "log/KvQmtLog.h"
#include "registry/AnsiText.h"
#include "product/DelayLoadResolver.h"

using KvQmtLogging::LogMessage;

namespace {

// Leaves the section and clears the running init function on every path,
// an exception that passes on included.
class HeldInit {
public:
    explicit HeldInit(kv::CriticalSection& section) : hold_(section) {}
    HeldInit(const HeldInit&) = delete;
    HeldInit& operator=(const HeldInit&) = delete;
    ~HeldInit();

private:
    kv::CriticalSectionHold hold_;
};

kv::CriticalSection& InitSection() {
    static kv::CriticalSection section;
    return section;
}

DelayLoadInitFunction volatile g_currentInit = nullptr;

// The section is left after this, by the hold.
HeldInit::~HeldInit() { g_currentInit = nullptr; }

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
