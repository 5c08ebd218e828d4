#include "app/RunEvent.h"

#include "common/RegistryString.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogInfo;
using KvQmtLogging::LogMessage;
using KvQmtLogging::LogWarning;

namespace kv {
namespace traits {
struct EventSource {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DeregisterEventSource(h); }
};
}  // namespace traits
}  // namespace kv

namespace RunEvent {

const wchar_t kSource[] = L"K-Vantor NX Upgrade";

namespace {

const wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\K-Vantor NX Upgrade";
// Expanded by Event Viewer on the machine that shows the event (a 64-bit
// viewer reads the 64-bit system folder; the file is in both).
const wchar_t kMessageFile[] = L"%SystemRoot%\\System32\\EventCreate.exe";
const DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// One outcome of a run: its exit code, the event's type, the first id of
// its block (the road's number is added) and the result in words.
struct Outcome {
    int exitCode;
    WORD type;
    DWORD firstId;
    const wchar_t* result;
};
const Outcome kOutcomes[] = {
    {ERROR_SUCCESS, EVENTLOG_INFORMATION_TYPE, 100, L"succeeded"},
    {ERROR_SUCCESS_REBOOT_REQUIRED, EVENTLOG_WARNING_TYPE, 110, L"succeeded; a restart is required to complete it"},
    {ERROR_SUCCESS_REBOOT_INITIATED, EVENTLOG_WARNING_TYPE, 120, L"succeeded; the installer started a restart"},
    {ERROR_INSTALL_USEREXIT, EVENTLOG_WARNING_TYPE, 300, L"the upgrade offer was closed without upgrading"},
    {ERROR_INSTALL_ALREADY_RUNNING, EVENTLOG_WARNING_TYPE, 310, L"another copy of the tool was running"},
    {ERROR_INSTALL_FAILURE, EVENTLOG_ERROR_TYPE, 400, L"failed; the log names the cause"},
};
const Outcome kOtherOutcome = {-1, EVENTLOG_ERROR_TYPE, 490, L"ended with an unexpected exit code"};
const DWORD kFirstCheckId = 200;

const Outcome& OutcomeOf(int exitCode) {
    for (const Outcome& outcome : kOutcomes) {
        if (outcome.exitCode == exitCode) return outcome;
    }
    return kOtherOutcome;
}

std::wstring CheckResult(Road::Kind road) {
    return std::wstring(L"check only, nothing was changed; a run would take the road ") + Road::Name(road);
}

}  // namespace

RunEventRecord Describe(const RunSummary& run) {
    RunEventRecord event;
    std::wstring result;
    if (run.checkOnly) {
        event.id = kFirstCheckId + static_cast<DWORD>(run.road);
        result = CheckResult(run.road);
    } else {
        const Outcome& outcome = OutcomeOf(run.exitCode);
        event.type = outcome.type;
        event.id = outcome.firstId + static_cast<DWORD>(run.road);
        result = outcome.result;
    }
    wchar_t exitCode[16] = {};
    _snwprintf(exitCode, 15, L"%d", run.exitCode);
    event.text = std::wstring(L"The K-Vantor NX upgrade tool ended.\r\nRoad: ") + Road::Name(run.road) +
                 L"\r\nResult: " + result + L"\r\nExit code: " + exitCode +
                 L"\r\nLog: " + (run.logPath.empty() ? std::wstring(L"(unknown)") : run.logPath);
    if (!run.logCopy.empty()) event.text += L"\r\nCopy of the log: " + run.logCopy;
    return event;
}

void Report(const RunSummary& run, EventLogOperations& events) {
    const wchar_t* const kFunction = L"RunEvent::Report";
    const RunEventRecord event = Describe(run);
    if (!events.RegisterSource()) {
        LogMessage(LogWarning, L"%s: The event source '%s' could not be registered; Event Viewer may not show "
                               L"the event's text",
                   kFunction, kSource);
    }
    if (!events.Report(event)) {
        LogMessage(LogWarning, L"%s: ReportEventW failed, error %lu; no event for this run", kFunction,
                   ::GetLastError());
        return;
    }
    LogMessage(LogInfo, L"%s: Event %lu reported to the Application log", kFunction, event.id);
}

}  // namespace RunEvent

namespace {

class SystemEvents : public EventLogOperations {
public:
    bool RegisterSource() override {
        const wchar_t* const kFunction = L"RunEvent::RegisterSource";
        kv::unique_hkey key;
        const LONG created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, RunEvent::kSourceKey, 0, nullptr, 0,
                                               KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                                               key.put(), nullptr);
        if (created != ERROR_SUCCESS) {
            LogMessage(LogWarning, L"%s: RegCreateKeyExW 'HKLM\\%s' failed, error %ld", kFunction,
                       RunEvent::kSourceKey, created);
            return false;
        }
        if (IsRegistered(key.get())) return true;
        const DWORD custom = 1;
        const LONG written = SetText(key.get(), L"EventMessageFile", RunEvent::kMessageFile);
        const LONG types = SetNumber(key.get(), L"TypesSupported", RunEvent::kTypesSupported);
        // Lets EventCreate itself write under this source too, as it does
        // for the sources it made.
        const LONG customSource = SetNumber(key.get(), L"CustomSource", custom);
        if (written != ERROR_SUCCESS || types != ERROR_SUCCESS || customSource != ERROR_SUCCESS) {
            LogMessage(LogWarning, L"%s: RegSetValueExW under 'HKLM\\%s' failed, errors %ld %ld %ld", kFunction,
                       RunEvent::kSourceKey, written, types, customSource);
            return false;
        }
        LogMessage(LogInfo, L"%s: Event source '%s' registered with the message file %s", kFunction,
                   RunEvent::kSource, RunEvent::kMessageFile);
        return true;
    }

    bool Report(const RunEventRecord& event) override {
        kv::unique_any<kv::traits::EventSource> source(::RegisterEventSourceW(nullptr, RunEvent::kSource));
        if (!source) return false;
        const wchar_t* strings[] = {event.text.c_str()};
        return ::ReportEventW(source.get(), event.type, 0, event.id, nullptr, 1, 0, strings, nullptr) != FALSE;
    }

private:
    static bool IsRegistered(HKEY key) {
        std::wstring file;
        const bool fileRead = static_cast<bool>(kv::ReadRegistryString(
            key, L"EventMessageFile", kv::RegistryStringTypes::PlainOrExpandable, 1024, file));
        DWORD types = 0;
        DWORD size = sizeof(types);
        DWORD type = REG_NONE;
        const bool typesRead = ::RegQueryValueExW(key, L"TypesSupported", nullptr, &type,
                                                  reinterpret_cast<BYTE*>(&types), &size) == ERROR_SUCCESS &&
                               type == REG_DWORD && size == sizeof(types);
        return fileRead && ::lstrcmpiW(file.c_str(), RunEvent::kMessageFile) == 0 && typesRead &&
               types == RunEvent::kTypesSupported;
    }
    static LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
        const DWORD bytes = static_cast<DWORD>((::lstrlenW(text) + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    }
    static LONG SetNumber(HKEY key, const wchar_t* name, DWORD value) {
        return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
};

}  // namespace

EventLogOperations& SystemEventLogOperations() {
    static SystemEvents events;
    return events;
}
