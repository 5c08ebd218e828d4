#pragma once
// One check or repair of the hosts file. The repair runs between two
// permission phases: the first records the DACLs of the etc folder and the
// hosts file, writes fixed ones and clears the file's read-only, hidden and
// system attributes; the second puts the attributes and then the recorded
// DACLs back.
#include <windows.h>

#include <memory>
#include <string>

#include "File.h"
#include "HostsFix.h"
#include "SecurityAttributes.h"

class HostsFileChecker {
public:
    enum PermissionPhase : int {
        Administrator = 0,
        Restore = 1,
    };

    // Resolves the hosts folder (through the HostsFix it makes).
    HostsFileChecker();
    ~HostsFileChecker();
    HostsFileChecker(const HostsFileChecker&) = delete;
    HostsFileChecker& operator=(const HostsFileChecker&) = delete;

    HostsFix& hostsFix() { return *hostsFix_; }

    // The permission phases around HostsFix::fixHostsFile: its code, or 2
    // when a phase failed (after a failed first phase the file is untouched
    // and the second is not run).
    int RepairWithPermissions();

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
    bool SetOriginalPermission(SecurityAttributes& etcFolder, SecurityAttributes& hostsFile,
                               const std::wstring& etcPath, const File& hosts);
    bool LockDown(const wchar_t* path);

    std::unique_ptr<HostsFix> hostsFix_;
    bool savedReadOnly_ = false;
    bool savedHidden_ = false;
    bool savedSystem_ = false;
};
