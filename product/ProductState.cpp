#include "product/ProductState.h"

#include "log/KvQmtLog.h"
#include "product/LenientDecimal.h"
#include "registry/Win32Registry.h"

using namespace KvQmtLogging;

std::wstring GetInstalledQMTVersion() {
    const wchar_t* const kFunction = L"GetInstalledQMTVersion";
    Win32Registry registry(HKEY_LOCAL_MACHINE);
    std::wstring version;
    int error = RegistryError::None;
    if (!registry.ReadString(ProductKeys::kQmtKey, ProductKeys::kInstallerVersionValue, version, &error)) {
        LogMessage(LogError,
                   L"%s: Failed to read InstallerVersion from QMT. Product is not installed. Returned error: %d",
                   kFunction, error);
        return std::wstring();
    }
    return version;
}

bool ExtractVersions(const std::wstring& version, int& major, int& minor) {
    const wchar_t* const kFunction = L"ExtractVersions";
    const size_t firstDot = version.find(L'.');
    if (firstDot == std::wstring::npos) {
        LogMessage(LogError, L"%s: Version format is wrong - cannot find first '.'", kFunction);
        return false;
    }
    const size_t secondDot = version.find(L'.', firstDot + 1);
    if (secondDot == std::wstring::npos) {
        LogMessage(LogError, L"%s: Version format is wrong - cannot find second '.'", kFunction);
        return false;
    }
    major = LenientDecimal(version.substr(0, firstDot));
    minor = LenientDecimal(version.substr(firstDot + 1, secondDot - firstDot - 1));
    LogMessage(LogInfo, L"%s: verMajor = %d, verMinor = %d", kFunction, major, minor);
    return true;
}

bool DCOperatorPresent() {
    const wchar_t* const kFunction = L"DCOperatorPresent";
    Win32Registry registry(HKEY_LOCAL_MACHINE);
    DWORD ignored = 0;
    int error = RegistryError::None;
    if (!registry.ReadDword(ProductKeys::kOperatorsKey, ProductKeys::kRetailOperatorValue, ignored, &error)) {
        LogMessage(LogError, L"%s: Operator is not found in Ovalis Agent\\Operators. Returned error: %d",
                   kFunction, error);
        return false;
    }
    return true;
}
