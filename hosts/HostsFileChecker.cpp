#include "HostsFileChecker.h"

#include "KvQmtLog.h"
#include "OwnershipTaker.h"

using KvQmtLogging::LogMessage;

namespace {

const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What an object is given when the ownership step left it with a null DACL
// and the intended DACL could not be written: nobody but the system and the
// administrators may change it, users may still read it.
const wchar_t kLockedDownSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
const DWORD kHidden = FILE_ATTRIBUTE_HIDDEN;
const DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;

}  // namespace

HostsFileChecker::HostsFileChecker() : hostsFix_(new HostsFix()) {}

HostsFileChecker::~HostsFileChecker() = default;

int HostsFileChecker::RepairWithPermissions() {
    SecurityAttributes etcFolder;
    SecurityAttributes hostsFile;
    int result = 2;
    if (SetPermission(etcFolder, hostsFile, Administrator)) {
        result = hostsFix_->fixHostsFile();
        if (!SetPermission(etcFolder, hostsFile, Restore)) result = 2;
    }
    return result;
}

void HostsFileChecker::BuildEtcFolderSddl(std::wstring& sddl) {
    const std::wstring trustedInstaller(kTrustedInstaller);
    sddl = L"D:PAI";
    sddl += L"(A;;FA;;;" + trustedInstaller + L")";
    sddl += L"(A;CIIO;GA;;;" + trustedInstaller + L")";
    sddl += L"(A;;0x1301bf;;;SY)";
    sddl += L"(A;OICIIO;GA;;;SY)";
    sddl += L"(A;;0x1301bf;;;BA)";
    sddl += L"(A;OICIIO;GA;;;BA)";
    sddl += L"(A;;0x1200a9;;;BU)";
    sddl += L"(A;OICIIO;GXGR;;;BU)";
    sddl += L"(A;OICIIO;GA;;;CO)";
}

void HostsFileChecker::BuildHostsFileSddl(std::wstring& sddl) {
    sddl = L"D:AI";
    sddl += L"(A;ID;FA;;;SY)";
    sddl += L"(A;ID;FA;;;BA)";
    sddl += L"(A;ID;0x1200a9;;;BU)";
}

bool HostsFileChecker::SetPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile, int phase) {
    // Resolved afresh, as every user of the location does.
    const HostsPath location;
    const std::wstring etcPath = location.directory();
    const File hosts(location.hostsFilePath());
    switch (phase) {
        case Administrator:
            return SetAdministratorPermission(etcFolder, hostsFile, etcPath, hosts);
        case Restore:
            return SetOriginalPermission(etcFolder, hostsFile, etcPath, hosts);
        default:
            LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes, permissions not to set",
                       L"HostsFileChecker::SetPermission");
            return false;
    }
}

bool HostsFileChecker::SetAdministratorPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                                                  const std::wstring& etcPath, const File& hosts) {
    static const wchar_t* const kName = L"HostsFileChecker::SetPermission";
    LogMessage(KvQmtLogging::LogDebug, L"%s: Set permision for Administrator attributes", kName);
    if (!etcFolder.LoadFromFile(etcPath.c_str()) || !hostsFile.LoadFromFile(hosts.path().c_str())) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to get SA etc or hosts file", kName);
        return false;
    }
    std::wstring sddl;
    BuildEtcFolderSddl(sddl);
    SecurityAttributes fixed;
    if (!fixed.LoadFromSddl(sddl.c_str(), false) || !SetSddlAttributes(fixed, etcPath.c_str())) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of etc folder", kName);
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Etc directory attributes are fixed", kName);
    BuildHostsFileSddl(sddl);
    if (!fixed.LoadFromSddl(sddl.c_str(), false) || !SetSddlAttributes(fixed, hosts.path().c_str()) ||
        !SetHostsFileAttributes(hosts, Administrator)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of hosts file", kName);
        return false;
    }
    fixed.Release();
    LogMessage(KvQmtLogging::LogDebug, L"%s: Hosts file attributes are fixed", kName);
    return true;
}

bool HostsFileChecker::SetOriginalPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                                             const std::wstring& etcPath, const File& hosts) {
    static const wchar_t* const kName = L"HostsFileChecker::SetPermission";
    LogMessage(KvQmtLogging::LogDebug, L"%s: Set permision for Orginal attributes", kName);
    if (!SetHostsFileAttributes(hosts, Restore)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of hosts file", kName);
        return false;
    }
    if (!SetSddlAttributes(etcFolder, etcPath.c_str())) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of etc folder", kName);
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Etc directory attributes are fixed", kName);
    if (!SetSddlAttributes(hostsFile, hosts.path().c_str())) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of hosts file", kName);
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Hosts file attributes are fixed", kName);
    return true;
}

bool HostsFileChecker::SetSddlAttributes(SecurityAttributes& attributes, const wchar_t* path) {
    static const wchar_t* const kName = L"HostsFileChecker::SetSddlAttributes";
    if (!attributes.ApplyToFile(path)) {
        const int taken = OwnershipTaker().TakeOwnership(path);
        if (taken != OwnershipTaker::Done) {
            LogMessage(KvQmtLogging::LogError, L"%s: Failed to TakeOwnership for %s", kName, path);
            return false;
        }
        if (!attributes.ApplyToFile(path)) {
            LogMessage(KvQmtLogging::LogError, L"%s: Failed to set attributes for %s", kName, path);
            // The ownership step left a null DACL, which lets everyone write.
            LockDown(path);
            return false;
        }
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Attributes for %s has been set correctly", kName, path);
    return true;
}

bool HostsFileChecker::LockDown(const wchar_t* path) {
    static const wchar_t* const kName = L"HostsFileChecker::SetSddlAttributes";
    SecurityAttributes lockedDown;
    if (lockedDown.LoadFromSddl(kLockedDownSddl, false) && lockedDown.ApplyToFile(path)) {
        LogMessage(KvQmtLogging::LogError, L"%s: %s has been locked to System and Administrators instead", kName,
                   path);
        return true;
    }
    LogMessage(KvQmtLogging::LogFatal, L"%s: %s is left with a DACL that grants everyone full access", kName,
               path);
    return false;
}

bool HostsFileChecker::SetHostsFileAttributes(const File& hostsFile, int phase) {
    static const wchar_t* const kName = L"HostsFileChecker::SetHostsFileAttributes";
    const bool restoring = phase != Administrator;
    const bool targetReadOnly = restoring && savedReadOnly_;
    const bool targetHidden = restoring && savedHidden_;
    const bool targetSystem = restoring && savedSystem_;

    const bool readOnly = hostsFile.hasAttribute(kReadOnly);
    const bool hidden = hostsFile.hasAttribute(kHidden);
    const bool system = hostsFile.hasAttribute(kSystem);
    if (!restoring) {
        savedReadOnly_ = readOnly;
        savedHidden_ = hidden;
        savedSystem_ = system;
    }

    if (readOnly != targetReadOnly && !hostsFile.setAttribute(targetReadOnly, kReadOnly)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to change read only attribute of hosts file", kName);
        return false;
    }
    if (hidden != targetHidden && !hostsFile.setAttribute(targetHidden, kHidden)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to change hidden attributes of hosts file", kName);
        return false;
    }
    if (system != targetSystem && !hostsFile.setAttribute(targetSystem, kSystem)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix system attributes of hosts hosts file", kName);
        return false;
    }
    return true;
}
