#include <windows.h>

#include <cstdlib>
#include <new>

#include "log/Logger.h"

namespace KvQmtLogging {

namespace {

// 0 not made, 1 being made, 2 ready.
volatile LONG g_loggerState = 0;
alignas(Logger) unsigned char g_loggerStorage[sizeof(Logger)];

Logger* StoredLogger() { return std::launder(reinterpret_cast<Logger*>(g_loggerStorage)); }

void DestroyLogger() { StoredLogger()->~Logger(); }

}  // namespace

Logger& GetLogger() {
    if (g_loggerState != 2) {
        if (InterlockedCompareExchange(&g_loggerState, 1, 0) == 0) {
            new (g_loggerStorage) Logger();
            std::atexit(DestroyLogger);
            InterlockedCompareExchange(&g_loggerState, 2, 1);
        } else {
            while (g_loggerState != 2) SwitchToThread();
        }
    }
    return *StoredLogger();
}

void LogMessage(int level, const wchar_t* format, ...) {
    Logger& logger = GetLogger();
    if (!logger.IsLevelEnabled(level)) return;
    va_list args;
    va_start(args, format);
    logger.LogV(level, format, args);
    va_end(args);
}

bool IsLogLevelEnabled(int level) { return GetLogger().IsLevelEnabled(level); }

}  // namespace KvQmtLogging
