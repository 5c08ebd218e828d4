// A writer process of the multi-process log test: waits for the start event,
// then logs numbered lines through the process-wide logger.
//   log_stress_writer <component> <logName> <writerId> <lineCount> <startEventName>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "log/KvQmtLog.h"
#include "log/Logger.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) return 2;
    const int writer = _wtoi(argv[3]);
    const int lines = _wtoi(argv[4]);
    KvQmtLogging::GetLogger().Configure(0, argv[1], argv[2]);
    HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[5]);
    if (!start || WaitForSingleObject(start, 30000) != WAIT_OBJECT_0) return 3;
    CloseHandle(start);
    const std::wstring padding(40, L'p');
    for (int i = 0; i < lines; ++i) {
        KvQmtLogging::LogMessage(KvQmtLogging::LogInfo, L"%s: writer %d line %d %s", L"Stress::Writer", writer, i,
                                 padding.c_str());
    }
    return 0;
}
