#include "tests/stub/StubTestLog.h"

#include <string>

#include "common/RegistryView.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"

using testsupport::ConfigureTestLog;

void ConfigureStubTestLog(const wchar_t* logName) {
    // A key of this program's log name alone: other programs keep their level.
    const std::wstring key = std::wstring(L"SOFTWARE\\K-Vantor\\QMT\\Logging\\Test\\") + logName;
    kv::unique_hkey settings;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kv::kProductRegistryView,
                          nullptr, settings.put(), nullptr) == ERROR_SUCCESS) {
        const DWORD verbose = KvQmtLogging::LogVerbose;
        ::RegSetValueExW(settings.get(), L"LogLevel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&verbose),
                         sizeof(verbose));
    }
    ConfigureTestLog(logName);
}
