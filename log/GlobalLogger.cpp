#include <windows.h>

#include "common/ProcessWide.h"
#include "log/Logger.h"

namespace KvQmtLogging {

Logger& GetLogger() { return kv::ProcessWide<Logger>::Get(); }

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
