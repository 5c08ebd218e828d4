#pragma once
// The one log call of the program. Every format begins "%s: " and the first
// argument is the qualified name of the calling function, held in a local
// constant named kFunction; the level is always one of the LogLevel names:
//   const wchar_t* const kFunction = L"NX_Helpers::GetInstalledSecurityAppID";
//   KvQmtLogging::LogMessage(KvQmtLogging::LogError, L"%s: RegOpenKeyExW failed, error %ld", kFunction, error);
// A helper that logs under its caller's name says so in a one-line comment.
// Wide formats follow the system C runtime: "%s" is a wide string.
// Logging never changes the thread's last-error value.
#include <cstdarg>

namespace KvQmtLogging {

enum LogLevel : int {
    LogFatal = 1,
    LogError = 2,
    LogWarning = 3,
    LogInfo = 4,
    LogDebug = 5,
    LogVerbose = 6,
};

class Logger;

// The process-wide logger, made on first use and destroyed at process exit.
Logger& GetLogger();

// Writes one line through the process-wide logger when level is enabled.
void LogMessage(int level, const wchar_t* format, ...);

// True when the process-wide logger writes lines of this level.
bool IsLogLevelEnabled(int level);

}  // namespace KvQmtLogging
