#include "hosts/HostsFileChecker.h"

#include "common/FileReplacement.h"
#include "hosts/OwnershipTaker.h"
#include "log/KvQmtLog.h"

using KvQmtLogging::LogMessage;

namespace {

const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// How far the first phase got, for its undo. An object whose DACL write
// was attempted may have a new owner even when the write failed.
enum AdministratorStep : int {
    NothingChanged = 0,
    EtcFolderAttempted = 1,
    EtcFolderFixed = 2,
    HostsFileAttempted = 3,
    HostsFileFixed = 4,
    AttributesAttempted = 5,
};

const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
const DWORD kHidden = FILE_ATTRIBUTE_HIDDEN;
const DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;

}  // namespace

HostsFileChecker::HostsFileChecker() : HostsFileChecker(std::unique_ptr<HostsFix>(new HostsFix())) {}

HostsFileChecker::HostsFileChecker(std::unique_ptr<HostsFix> hostsFix) : hostsFix_(std::move(hostsFix)) {}

HostsFileChecker::~HostsFileChecker() = default;

int HostsFileChecker::RepairWithPermissions() {
    const wchar_t* const kFunction = L"HostsFileChecker::RepairWithPermissions";
    SecurityAttributes etcFolder;
    SecurityAttributes hostsFile;
    int result = 2;
    // What a repair that died recorded would be recorded over otherwise.
    if (RestoreInterruptedRepair() && SetPermission(etcFolder, hostsFile, Administrator)) {
        result = hostsFix_->fixHostsFile();
        if (!SetPermission(etcFolder, hostsFile, Restore)) result = 2;
    }
    // The privileges go back to what they were before the repair.
    if (privileges_ && !privileges_->RestoreAll()) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to restore the privileges of the process", kFunction);
    }
    privileges_.reset();
    return result;
}

bool HostsFileChecker::RestoreInterruptedRepair() {
    const wchar_t* const kFunction = L"HostsFileChecker::RestoreInterruptedRepair";
    RepairRecord record;
    bool restored = true;
    switch (record.Load()) {
        case RepairRecord::Loaded:
            LogMessage(KvQmtLogging::LogWarning, L"%s: A repair did not finish; putting back %s and %s", kFunction,
                       record.etcPath.c_str(), record.hostsPath.c_str());
            restored = RestoreRecorded(record);
            if (restored && RepairRecord::Remove()) {
                LogMessage(KvQmtLogging::LogInfo, L"%s: The etc folder and the hosts file are as they were",
                           kFunction);
            } else {
                LogMessage(KvQmtLogging::LogFatal, L"%s: Not everything could be put back; the record is kept",
                           kFunction);
                restored = false;
            }
            break;
        case RepairRecord::Refused:
            // Nothing that record says is done; it must not stand in the
            // way of the record of this repair either.
            RepairRecord::Remove();
            break;
        default:
            break;
    }
    const std::wstring etcPath = hostsFix_->path().directory();
    if (!etcPath.empty()) {
        if (const unsigned removed = kv::FileReplacement::RemoveLeftovers(etcPath)) {
            LogMessage(KvQmtLogging::LogInfo, L"%s: Removed %u temporary files left in %s", kFunction, removed,
                       etcPath.c_str());
        }
    }
    return restored;
}

bool HostsFileChecker::RestoreRecorded(const RepairRecord& record) {
    SecurityAttributes etcFolder;
    SecurityAttributes hostsFile;
    if (!etcFolder.LoadFromBytes(record.etcSecurity.data(), record.etcSecurity.size()) ||
        !hostsFile.LoadFromBytes(record.hostsSecurity.data(), record.hostsSecurity.size())) {
        return false;
    }
    // In the order of the restore phase: attributes, folder, file.
    savedReadOnly_ = (record.hostsAttributes & kReadOnly) != 0;
    savedHidden_ = (record.hostsAttributes & kHidden) != 0;
    savedSystem_ = (record.hostsAttributes & kSystem) != 0;
    const File hosts(record.hostsPath);
    bool restored = IsGone(record.hostsPath) || SetHostsFileAttributes(hosts, Restore);
    restored = (IsGone(record.etcPath) || RestoreObject(etcFolder, record.etcPath.c_str())) && restored;
    return (IsGone(record.hostsPath) || RestoreObject(hostsFile, record.hostsPath.c_str())) && restored;
}

bool HostsFileChecker::IsGone(const std::wstring& path) {
    const wchar_t* const kFunction = L"HostsFileChecker::IsGone";
    // What no longer exists has nothing to be put back, and must not keep
    // every later repair waiting for it.
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    LogMessage(KvQmtLogging::LogWarning, L"%s: %s no longer exists, nothing to put back", kFunction, path.c_str());
    return true;
}

bool HostsFileChecker::Record(const SecurityAttributes& etcFolder, const SecurityAttributes& hostsFile,
                              const std::wstring& etcPath, const File& hosts) {
    RepairRecord record;
    record.etcPath = etcPath;
    record.etcSecurity = etcFolder.Bytes();
    record.hostsPath = hosts.path();
    record.hostsSecurity = hostsFile.Bytes();
    const DWORD attributes = ::GetFileAttributesW(hosts.path().c_str());
    record.hostsAttributes = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
    return record.Save();
}

ProcessPrivileges& HostsFileChecker::privileges() {
    if (!privileges_) privileges_.reset(new ProcessPrivileges());
    return *privileges_;
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
    const wchar_t* const kFunction = L"HostsFileChecker::SetPermission";
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
            LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes, permissions not to set", kFunction);
            return false;
    }
}

bool HostsFileChecker::SetAdministratorPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                                                  const std::wstring& etcPath, const File& hosts) {
    // Logs under the name of its caller, HostsFileChecker::SetPermission.
    const wchar_t* const kFunction = L"HostsFileChecker::SetPermission";
    LogMessage(KvQmtLogging::LogDebug, L"%s: Set permision for Administrator attributes", kFunction);
    if (!etcFolder.LoadFromFile(etcPath.c_str()) || !hostsFile.LoadFromFile(hosts.path().c_str())) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to get SA etc or hosts file", kFunction);
        return false;
    }
    if (!Record(etcFolder, hostsFile, etcPath, hosts)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Nothing is changed without a record to undo it", kFunction);
        return false;
    }
    std::wstring sddl;
    BuildEtcFolderSddl(sddl);
    SecurityAttributes fixed;
    int reached = NothingChanged;
    bool done = fixed.LoadFromSddl(sddl.c_str(), false);
    if (done) {
        reached = EtcFolderAttempted;
        done = SetSddlAttributes(fixed, etcPath.c_str());
    }
    if (!done) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of etc folder", kFunction);
        UndoAdministrator(etcFolder, hostsFile, etcPath, hosts, reached);
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Etc directory attributes are fixed", kFunction);
    reached = EtcFolderFixed;
    BuildHostsFileSddl(sddl);
    done = fixed.LoadFromSddl(sddl.c_str(), false);
    if (done) {
        reached = HostsFileAttempted;
        done = SetSddlAttributes(fixed, hosts.path().c_str());
    }
    if (done) {
        reached = AttributesAttempted;
        done = SetHostsFileAttributes(hosts, Administrator);
    }
    if (!done) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of hosts file", kFunction);
        UndoAdministrator(etcFolder, hostsFile, etcPath, hosts, reached);
        return false;
    }
    fixed.Release();
    LogMessage(KvQmtLogging::LogDebug, L"%s: Hosts file attributes are fixed", kFunction);
    return true;
}

void HostsFileChecker::UndoAdministrator(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                                         const std::wstring& etcPath, const File& hosts, int reached) {
    // Logs under the name of its caller, HostsFileChecker::SetPermission.
    const wchar_t* const kFunction = L"HostsFileChecker::SetPermission";
    if (reached == NothingChanged) {
        RepairRecord::Remove();
        return;
    }
    // Newest change first, as the restore phase does; a step never taken
    // is not undone.
    bool undone = true;
    if (reached >= AttributesAttempted) undone = SetHostsFileAttributes(hosts, Restore) && undone;
    if (reached >= HostsFileAttempted) {
        undone = UndoObject(hostsFile, hosts.path().c_str(), reached >= HostsFileFixed) && undone;
    }
    undone = UndoObject(etcFolder, etcPath.c_str(), reached >= EtcFolderFixed) && undone;
    if (undone && RepairRecord::Remove()) {
        LogMessage(KvQmtLogging::LogInfo, L"%s: The changes made so far have been undone", kFunction);
    } else {
        LogMessage(KvQmtLogging::LogFatal, L"%s: The changes made so far could not all be undone", kFunction);
    }
}

bool HostsFileChecker::UndoObject(SecurityAttributes& recorded, const wchar_t* path, bool daclWritten) {
    // Before its DACL was written only an ownership step can have changed it.
    return daclWritten ? RestoreObject(recorded, path) : RestoreOwnerIfChanged(recorded, path);
}

bool HostsFileChecker::RestoreObject(SecurityAttributes& recorded, const wchar_t* path) {
    // With the ownership fallback: the DACL the first phase wrote need not
    // let the Administrators write another one. The owner goes back last.
    const bool restored = SetSddlAttributes(recorded, path);
    return RestoreOwnerIfChanged(recorded, path) && restored;
}

bool HostsFileChecker::RestoreOwnerIfChanged(const SecurityAttributes& recorded, const wchar_t* path) {
    const wchar_t* const kFunction = L"HostsFileChecker::RestoreOwnerIfChanged";
    SecurityAttributes current;
    if (current.LoadFromFile(path) && current.SameOwnerAs(recorded)) return true;
    if (!RestoreOwner(path, recorded.descriptor(), privileges())) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to put the owner of %s back, error %lu", kFunction, path,
                   ::GetLastError());
        return false;
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Owner of %s has been put back", kFunction, path);
    return true;
}

bool HostsFileChecker::SetOriginalPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                                             const std::wstring& etcPath, const File& hosts) {
    // Logs under the name of its caller, HostsFileChecker::SetPermission.
    const wchar_t* const kFunction = L"HostsFileChecker::SetPermission";
    LogMessage(KvQmtLogging::LogDebug, L"%s: Set permision for Orginal attributes", kFunction);
    // Every step is tried even when one before it failed: what can be put
    // back is put back, and the phase still reports the failure.
    bool restored = SetHostsFileAttributes(hosts, Restore);
    if (!restored) LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of hosts file", kFunction);
    const bool etcRestored = RestoreObject(etcFolder, etcPath.c_str());
    if (etcRestored) {
        LogMessage(KvQmtLogging::LogDebug, L"%s: Etc directory attributes are fixed", kFunction);
    } else {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of etc folder", kFunction);
    }
    // The rewrite gave the hosts file a new owner as well as new content.
    const bool hostsRestored = RestoreObject(hostsFile, hosts.path().c_str());
    if (hostsRestored) {
        LogMessage(KvQmtLogging::LogDebug, L"%s: Hosts file attributes are fixed", kFunction);
    } else {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix attributes of hosts file", kFunction);
    }
    // Kept while anything is not back, for the next run to try again.
    return restored && etcRestored && hostsRestored && RepairRecord::Remove();
}

bool HostsFileChecker::SetSddlAttributes(SecurityAttributes& attributes, const wchar_t* path) {
    const wchar_t* const kFunction = L"HostsFileChecker::SetSddlAttributes";
    if (!attributes.ApplyToFile(path)) {
        // As the owner the Administrators may write the DACL, and the one
        // written is the intended one: the object never stands open between.
        const int taken = OwnershipTaker(privileges()).TakeOwnership(path);
        if (taken != OwnershipTaker::Done) {
            LogMessage(KvQmtLogging::LogError, L"%s: Failed to TakeOwnership for %s", kFunction, path);
            return false;
        }
        if (!attributes.ApplyToFile(path)) {
            LogMessage(KvQmtLogging::LogError, L"%s: Failed to set attributes for %s", kFunction, path);
            return false;
        }
    }
    LogMessage(KvQmtLogging::LogDebug, L"%s: Attributes for %s has been set correctly", kFunction, path);
    return true;
}

bool HostsFileChecker::SetHostsFileAttributes(const File& hostsFile, int phase) {
    const wchar_t* const kFunction = L"HostsFileChecker::SetHostsFileAttributes";
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
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to change read only attribute of hosts file", kFunction);
        return false;
    }
    if (hidden != targetHidden && !hostsFile.setAttribute(targetHidden, kHidden)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to change hidden attributes of hosts file", kFunction);
        return false;
    }
    if (system != targetSystem && !hostsFile.setAttribute(targetSystem, kSystem)) {
        LogMessage(KvQmtLogging::LogError, L"%s: Failed to fix system attributes of hosts hosts file", kFunction);
        return false;
    }
    return true;
}
