#include "product/UpdateTrigger.h"

#include <windows.h>
#include <shlobj.h>

#include "common/FileReplacement.h"
#include "common/UniqueHandle.h"
#include "log/KvQmtLog.h"
#include "product/CacheFolderCheck.h"
#include "product/GuardedDelayLoadInit.h"
#include "product/QmtIpcImports.h"
#include "product/TextFileIo.h"
#include "registry/Win32Registry.h"

using KvQmtLogging::LogMessage;

namespace {

constexpr const char* kSegmentationsKey = "SOFTWARE\\K-Vantor\\QMT\\KVAUA\\Segmentations";
constexpr const char* kMarker = "productDefinitionVersion";

constexpr unsigned int kUpdateConfigMessage = 2007;
constexpr wchar_t kUpdatePayload[] = L"666|{\"backend\":true, \"aua_check\":true}";
constexpr unsigned int kUpdatePayloadBytes = (sizeof(kUpdatePayload) / sizeof(wchar_t) - 1) * sizeof(wchar_t);
static_assert(kUpdatePayloadBytes == 76, "the daemon expects 38 UTF-16 units without a terminator");

}  // namespace

bool AddOperatorIDSegmentation() {
    const wchar_t* const kFunction = L"AddOperatorIDSegmentation";
    LogMessage(KvQmtLogging::LogInfo, L"%s: Adding 666 to SOFTWARE\\K-Vantor\\QMT\\KVAUA\\Segmentations|OPERATOR",
               kFunction);
    int error = RegistryError::None;
    if (!Win32Registry(HKEY_LOCAL_MACHINE).WriteString(kSegmentationsKey, "OPERATOR", "666", &error)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to add OPERATOR to AUA registry. Returned error: %d",
                   kFunction, error);
        return false;
    }
    return true;
}

std::wstring GetFolderPath() {
    const wchar_t* const kFunction = L"GetFolderPath";
    wchar_t folder[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
        LogMessage(KvQmtLogging::LogError, L"%s: SHGetFolderPathW(%d) failed with error %d", kFunction,
                   CSIDL_COMMON_APPDATA, static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    return folder;
}

bool MakePackagesToIgnoreThrottling(std::string& content) {
    const wchar_t* const kFunction = L"MakePackagesToIgnoreThrottling";
    int edited = 0;
    for (size_t pos = content.find(kMarker); pos != std::string::npos; pos = content.find(kMarker, pos)) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: changing productDefinitionVersion at pos %d", kFunction,
                   static_cast<int>(pos));
        content[pos] = 'a';
        ++edited;
    }
    if (edited == 0) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: productDefinitionVersion was not found! Exiting", kFunction);
        return false;
    }
    return true;
}

bool ModifyVRKSCache() {
    const wchar_t* const kFunction = L"ModifyVRKSCache";
    const std::wstring root = GetFolderPath();
    const std::wstring path = root + kPackageCacheSubPath;
    LogMessage(KvQmtLogging::LogInfo, L"%s: Modifying %s", kFunction, path.c_str());

    {
        // Asking for no access succeeds even while a service holds the file
        // open: this asks only whether it exists.
        kv::unique_hfile probe(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: %s does not exist", kFunction, path.c_str());
            return false;
        }
    }

    // Where every account may create folders: nothing is edited in a
    // folder another account made or can swap.
    if (!CacheLocationIsSafe(root, kPackageCacheSubPath)) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s is not edited", kFunction, path.c_str());
        return false;
    }
    // What an edit that died left behind.
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    if (const unsigned removed = kv::FileReplacement::RemoveLeftovers(folder)) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: Removed %u temporary files left in %s", kFunction, removed,
                   folder.c_str());
    }

    std::string content = ReadTextFile(path);
    if (content.empty()) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to read %s", kFunction, path.c_str());
        return false;
    }
    if (!MakePackagesToIgnoreThrottling(content)) {
        LogMessage(KvQmtLogging::LogInfo,
                   L"%s: productDefinitionVersion was not found but don't fail because it will cause upgrade anyway",
                   kFunction);
        return true;
    }
    return WriteContentToFile(path, content);
}

bool TriggerUpdate() {
    const wchar_t* const kFunction = L"TriggerUpdate";
    LogMessage(KvQmtLogging::LogInfo, L"%s: ", kFunction);
    if (GuardedDelayLoadInit(kQmtIpcDelayLoadId, &QMTIPCDelayLoadInitialize, nullptr) != DelayLoadInitRan) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to load qmt ipc library", kFunction);
        return false;
    }

    char target[] = "KV_OVS_IPC_DAEMON_USER";
    int result = 0;
    try {
        result = QMTIPCSendMessage(target, kUpdateConfigMessage, kUpdatePayload, kUpdatePayloadBytes, 0);
    } catch (const DelayLoadError& error) {
        // A library that has the init entry but not the send entry: the
        // message cannot go, and that must not end the program.
        result = static_cast<int>(error.code);
    }
    const bool sent = result == 0;
    if (sent) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: Message to update config sent successfully", kFunction);
    } else {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to send IPC message to daemon. ipc error=%d", kFunction,
                   result);
    }
    LogMessage(KvQmtLogging::LogInfo, L"%s: Done sending IPC message", kFunction);
    return sent;
}
