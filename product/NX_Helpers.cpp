#include "product/NX_Helpers.h"

#include <string>

#include "log/KvQmtLog.h"
#include "product/LenientDecimal.h"
#include "product/ProductState.h"
#include "registry/Win32Registry.h"

using namespace KvQmtLogging;

namespace NX_Helpers {

namespace {
constexpr int kFallbackAppId = 4;
}  // namespace

SingleInstanceLock AllocateSingleInstanceMutex(SingleInstanceLockApi& api) {
    return AcquireSingleInstanceLock(api, kSingleInstanceMutexName, kAdministratorsMutexName);
}

int GetInstalledSecurityAppID() {
    const wchar_t* const kFunction = L"NX_Helpers::GetInstalledSecurityAppID";
    Win32Registry registry(HKEY_LOCAL_MACHINE);
    std::wstring mapping;
    int error = RegistryError::None;
    if (!registry.ReadString(ProductKeys::kFamilyMappingKey, ProductKeys::kFamilyMappingValue, mapping, &error)) {
        LogMessage(LogError, L"%s: Failed to read family id mapping for security product. Error: %d. Fallback to 4",
                   kFunction, error);
        return kFallbackAppId;
    }
    LogMessage(LogInfo, L"%s: Found mapping: %s", kFunction, mapping.c_str());
    const size_t underscore = mapping.find(L'_');
    if (underscore == std::wstring::npos) {
        LogMessage(LogError, L"%s: Mapping format is wrong, returning 4", kFunction);
        return kFallbackAppId;
    }
    const int appId = LenientDecimal(mapping.substr(0, underscore));
    LogMessage(LogInfo, L"%s: Found app id: %d", kFunction, appId);
    return appId;
}

bool IsUpgradeableVersion(int major, int minor) {
    return major > kRequiredMajor || (major == kRequiredMajor && minor >= kUpgradeableMinor);
}

bool IsUpToDateVersion(int major, int minor) {
    return major > kRequiredMajor || (major == kRequiredMajor && minor >= kUpToDateMinor);
}

bool UpgradeableHGInstalledForRetailOperator() {
    const wchar_t* const kFunction = L"NX_Helpers::UpgradeableHGInstalledForRetailOperator";
    const std::wstring version = GetInstalledQMTVersion();
    if (version.empty()) return false;
    LogMessage(LogInfo, L"%s: Installed version: %s", kFunction, version.c_str());

    int major = 0;
    int minor = 0;
    // A version that cannot be parsed counts as too old.
    if (!ExtractVersions(version, major, minor) || !IsUpgradeableVersion(major, minor)) {
        LogMessage(LogError, L"%s: Installed product is too old for this tool to work: %s. Need at least 1.57", kFunction,
                   version.c_str());
        return false;
    }
    if (!DCOperatorPresent()) return false;
    LogMessage(LogInfo, L"%s: Found correct version", kFunction);
    return true;
}

bool NXIsUpToDateAlready() {
    const wchar_t* const kFunction = L"NX_Helpers::NXIsUpToDateAlready";
    const std::wstring version = GetInstalledQMTVersion();
    if (version.empty()) return false;
    LogMessage(LogInfo, L"%s: Installed version: %s", kFunction, version.c_str());

    int major = 0;
    int minor = 0;
    if (!ExtractVersions(version, major, minor)) return false;
    if (!IsUpToDateVersion(major, minor)) {
        LogMessage(LogInfo, L"%s: NX is not up to date", kFunction);
        return false;
    }
    LogMessage(LogInfo, L"%s: NX is up to date already", kFunction);
    if (!DCOperatorPresent()) {
        LogMessage(LogInfo, L"%s: DC operator is not present", kFunction);
        return false;
    }
    return true;
}

}  // namespace NX_Helpers
