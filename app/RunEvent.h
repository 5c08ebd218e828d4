#pragma once
// One event in the Application event log at the end of every run, for the
// administrators who watch the event log rather than the tool's own log.
//
// The source "K-Vantor NX Upgrade" is registered with the system's own
// EventCreate.exe as its message file: its message table maps every id from
// 1 to 1000 to the text "%1", so Event Viewer shows the event's text as
// written, and the file stays on the machine after a distribution system has
// deleted this program (a message table in the program itself would then be
// gone, and every event would read "The description ... cannot be found").
#include <windows.h>

#include <string>

#include "app/Road.h"

// What a run did, as the event tells it.
struct RunSummary {
    Road::Kind road = Road::None;
    bool checkOnly = false;
    int exitCode = 0;
    std::wstring logPath;   // the main log; empty when it is not known
    std::wstring logCopy;   // the file of --log; empty for none
};

struct RunEventRecord {
    WORD type = EVENTLOG_INFORMATION_TYPE;  // information, warning or error
    DWORD id = 0;                           // 1 to 1000, one per outcome
    std::wstring text;
};

// The event log calls. Wine's event log only traces them, so tests hand in a
// recording table; the program uses the system's.
class EventLogOperations {
public:
    virtual ~EventLogOperations() = default;
    // Makes the source known with its message file; false when that failed
    // (the event is reported all the same).
    virtual bool RegisterSource() = 0;
    virtual bool Report(const RunEventRecord& event) = 0;
};
EventLogOperations& SystemEventLogOperations();

namespace RunEvent {

extern const wchar_t kSource[];

// The event for a run's outcome.
RunEventRecord Describe(const RunSummary& run);

// Registers the source if need be and reports the run's event; failures are
// logged and change nothing else.
void Report(const RunSummary& run, EventLogOperations& events);

}  // namespace RunEvent
