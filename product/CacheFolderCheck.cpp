#include "product/CacheFolderCheck.h"

#include "common/TrustedOwner.h"
#include "log/KvQmtLog.h"
#include "log/PathIdentity.h"

using KvQmtLogging::LogMessage;

namespace {
CacheFolderChecks g_realChecks;
CacheFolderChecks* g_currentChecks = &g_realChecks;

bool IsTrustedlyOwned(CacheFolderChecks& checks, const std::wstring& folder) {
    kv::unique_hlocal descriptor;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return checks.ReadOwner(folder, descriptor) &&
           ::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) && kv::IsTrustedOwner(owner);
}
}  // namespace

bool CacheFolderChecks::IsReachedThroughLink(const std::wstring& path) {
    return KvQmtLogging::IsReachedThroughLink(path.c_str());
}

bool CacheFolderChecks::ReadOwner(const std::wstring& path, kv::unique_hlocal& descriptor) {
    DWORD needed = 0;
    ::GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return false;
    descriptor.reset(::LocalAlloc(LPTR, needed));
    return descriptor &&
           ::GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor.get(), needed, &needed);
}

CacheFolderChecks& CurrentCacheFolderChecks() { return *g_currentChecks; }

ScopedCacheFolderChecks::ScopedCacheFolderChecks(CacheFolderChecks& checks) : previous_(g_currentChecks) {
    g_currentChecks = &checks;
}

ScopedCacheFolderChecks::~ScopedCacheFolderChecks() { g_currentChecks = previous_; }

bool CacheLocationIsSafe(const std::wstring& root, const std::wstring& subPath) {
    const wchar_t* const kFunction = L"CacheLocationIsSafe";
    CacheFolderChecks& checks = CurrentCacheFolderChecks();
    // Each component below the root in turn, the cache file last.
    for (size_t end = subPath.find(L'\\', 1);; end = subPath.find(L'\\', end + 1)) {
        const bool isFile = end == std::wstring::npos;
        const std::wstring path = root + (isFile ? subPath : subPath.substr(0, end));
        if (checks.IsReachedThroughLink(path)) {
            LogMessage(KvQmtLogging::LogError, L"%s: %s is a link or is reached through one, refused", kFunction,
                       path.c_str());
            return false;
        }
        if (isFile) return true;
        if (!IsTrustedlyOwned(checks, path)) {
            LogMessage(KvQmtLogging::LogError, L"%s: %s is not owned by SYSTEM or the Administrators, refused",
                       kFunction, path.c_str());
            return false;
        }
    }
}
