#pragma once
#include <memory>
#include <string>

namespace KvQmtLogging {

// Bits of LoggerConfig::flags.
enum LogFlags : unsigned {
    LogFlagContinuous = 1,    // one writer, no mutex (FileAccessContinuous)
    LogFlagQuietMarkers = 2,  // start and end markers at level 5 instead of 4
    LogFlagDeferOpen = 4,     // apply the configuration at the first message
};

// What Logger::Configure was given, kept until it is applied and while the
// logger is open.
struct LoggerConfig {
    std::unique_ptr<std::wstring> component;  // none: the "misc" folder
    std::unique_ptr<std::wstring> logName;
    int defaultLevel = 0;
    unsigned flags = 0;
    bool pending = false;
};

}  // namespace KvQmtLogging
