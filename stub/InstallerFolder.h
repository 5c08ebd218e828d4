#pragma once
// The folder the installer is written into and started from. The temporary
// folder may be writable by every user (C:\Windows\Temp when the program runs
// as SYSTEM), and the loader looks for a program's DLLs in the program's own
// folder first: a DLL planted beside the installer would run with our rights.
// So the installer gets a new folder of our own under the temporary folder,
// made with an access list that lets only the system and the administrators
// in, checked to be a plain folder (not a link), and held open without delete
// sharing, so that nobody can rename or delete it while it is in use.
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

class InstallerFolder {
public:
    InstallerFolder() = default;
    InstallerFolder(const InstallerFolder&) = delete;
    InstallerFolder& operator=(const InstallerFolder&) = delete;

    // Makes and holds a new folder under the temporary folder (or under
    // parent). A name that exists already is never reused. False (logged)
    // when no folder of our own could be made.
    bool Create();
    bool Create(const std::wstring& parent);

    // The folder's path, with no trailing backslash.
    const std::wstring& path() const { return path_; }

    // Deletes the folder through the held handle and lets go of it; whatever
    // was put into it must have been removed first. Logged when it fails.
    void Remove();

private:
    bool Hold(const std::wstring& path);
    // The folder at path, opened as itself and checked to be a plain folder
    // (not a link); its identity goes to information. Logged when it fails.
    static kv::unique_hfile OpenPlainFolder(const std::wstring& path, DWORD access, DWORD sharing,
                                            BY_HANDLE_FILE_INFORMATION& information);

    std::wstring path_;
    kv::unique_hfile handle_;
    BY_HANDLE_FILE_INFORMATION identity_ = {};
};

// SYSTEM and the administrators only, inherited by what is made inside.
extern const wchar_t kInstallerFolderSddl[];
