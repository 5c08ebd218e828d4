#pragma once
// One check or repair of the hosts file. The repair runs between two
// permission phases: the first records the DACLs and owners of the etc folder
// and the hosts file, writes fixed DACLs and clears the file's read-only,
// hidden and system attributes; the second puts the attributes and then the
// recorded DACLs and owners back. A first phase that fails part-way undoes
// what it did; privileges enabled for either phase are put back when the
// repair ends. What the first phase found is recorded before it changes
// anything (RepairRecord), so that a repair whose process died in between
// is undone by the next one.
#include <windows.h>

#include <memory>
#include <string>

#include "hosts/File.h"
#include "hosts/HostsFix.h"
#include "hosts/OwnershipTaker.h"
#include "hosts/RepairRecord.h"
#include "hosts/SecurityAttributes.h"

class HostsFileChecker {
public:
    enum PermissionPhase : int {
        Administrator = 0,
        Restore = 1,
    };

    // Resolves the hosts folder (through the HostsFix it makes).
    HostsFileChecker();
    // With a HostsFix of the caller's making (tests only).
    explicit HostsFileChecker(std::unique_ptr<HostsFix> hostsFix);
    ~HostsFileChecker();
    HostsFileChecker(const HostsFileChecker&) = delete;
    HostsFileChecker& operator=(const HostsFileChecker&) = delete;

    HostsFix& hostsFix() { return *hostsFix_; }

    // The permission phases around HostsFix::fixHostsFile: its code, or 2
    // when a phase failed (after a failed first phase the file is untouched
    // and the second is not run).
    int RepairWithPermissions();

    // Puts back what a repair that died left changed, as its record says,
    // and removes the temporary files it left in the etc folder. False when
    // something could not be put back (the record then stays).
    bool RestoreInterruptedRepair();

    // Both phases take the same two holders, which the first fills.
    bool SetPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile, int phase);
    bool SetSddlAttributes(SecurityAttributes& attributes, const wchar_t* path);
    bool SetHostsFileAttributes(const File& hostsFile, int phase);

    static void BuildEtcFolderSddl(std::wstring& sddl);
    static void BuildHostsFileSddl(std::wstring& sddl);

    bool savedReadOnly() const { return savedReadOnly_; }
    bool savedHidden() const { return savedHidden_; }
    bool savedSystem() const { return savedSystem_; }

private:
    bool SetAdministratorPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                                    const std::wstring& etcPath, const File& hosts);
    bool Record(const SecurityAttributes& etcFolder, const SecurityAttributes& hostsFile,
                const std::wstring& etcPath, const File& hosts);
    bool RestoreRecorded(const RepairRecord& record);
    static bool IsGone(const std::wstring& path);
    bool SetOriginalPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                               const std::wstring& etcPath, const File& hosts);
    // Puts the recorded DACL and owner back on an object, as the second
    // phase does.
    bool RestoreObject(SecurityAttributes& recorded, const wchar_t* path);
    bool RestoreOwnerIfChanged(const SecurityAttributes& recorded, const wchar_t* path);
    void UndoAdministrator(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile, const std::wstring& etcPath,
                           const File& hosts, int reached);
    bool UndoObject(SecurityAttributes& recorded, const wchar_t* path, bool daclWritten);
    ProcessPrivileges& privileges();

    std::unique_ptr<ProcessPrivileges> privileges_;

    std::unique_ptr<HostsFix> hostsFix_;
    bool savedReadOnly_ = false;
    bool savedHidden_ = false;
    bool savedSystem_ = false;
};
