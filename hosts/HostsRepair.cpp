#include "hosts/HostsRepair.h"

#include <string>
#include <vector>

#include "hosts/HostsFileChecker.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

namespace {

void UsePatterns(HostsFileChecker& checker, const wchar_t* const* patterns, size_t count) {
    if (!patterns) return;
    std::vector<std::wstring> list;
    for (size_t i = 0; i < count; ++i) {
        if (patterns[i]) list.emplace_back(patterns[i]);
    }
    checker.hostsFix().analyzer().setPatterns(list);
}

HostsResult HostsFileNeedsRepairInternal(const wchar_t* const* patterns, size_t count) {
    const wchar_t* const kFunction = L"`anonymous-namespace'::HostsFileNeedsRepairInternal";
    HostsFileChecker checker;
    UsePatterns(checker, patterns, count);
    const int answer = checker.hostsFix().hostsFileNeedsRepair();
    LogMessage(KvQmtLogging::LogDebug, L"%s: Returned %d", kFunction, answer);
    switch (answer) {
        case 0: return HostsResult::NeedsRepair;
        case 1: return HostsResult::Healthy;
        default: return HostsResult::Error;
    }
}

HostsResult FixFileInternal(const wchar_t* const* patterns, size_t count) {
    const wchar_t* const kFunction = L"`anonymous-namespace'::FixFileInternal";
    HostsFileChecker checker;
    UsePatterns(checker, patterns, count);
    const int answer = checker.RepairWithPermissions();
    LogMessage(KvQmtLogging::LogDebug, L"%s: Returned %d", kFunction, answer);
    switch (answer) {
        case 0: return HostsResult::Unchanged;
        case 1: return HostsResult::Repaired;
        default: return HostsResult::Error;
    }
}

}  // namespace

HostsResult HostsFileNeedsRepair() { return HostsFileNeedsRepairInternal(nullptr, 0); }

HostsResult HostsFileNeedsRepair(const wchar_t* const* patterns, size_t count) {
    return HostsFileNeedsRepairInternal(patterns, count);
}

HostsResult FixFile() { return FixFileInternal(nullptr, 0); }

HostsResult FixFile(const wchar_t* const* patterns, size_t count) { return FixFileInternal(patterns, count); }

bool RestoreAfterInterruptedRepair() { return HostsFileChecker().RestoreInterruptedRepair(); }

bool FixHosts() {
    const wchar_t* const kFunction = L"FixHosts";
    if (HostsFileNeedsRepair() != HostsResult::NeedsRepair) {
        // A file that could not be read is not in the way of the install either.
        LogMessage(KvQmtLogging::LogDebug, L"%s: Hosts are OK", kFunction);
        return true;
    }
    LogMessage(KvQmtLogging::LogInfo, L"%s: Hosts are malformed, try to fix them", kFunction);
    const HostsResult fixed = FixFile();
    if (fixed == HostsResult::Repaired) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: Malformed hosts has been fixed", kFunction);
        return true;
    }
    // Healthy again by the time of the repair (another program fixed it, or
    // removed it): nothing stands in the way of the install.
    if (fixed == HostsResult::Unchanged) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: Hosts need no repair any more", kFunction);
        return true;
    }
    LogMessage(KvQmtLogging::LogFatal, L"%s: Malformed hosts cannot be fixed, ret = %d", kFunction,
               static_cast<int>(fixed));
    return false;
}
