#pragma once
// The downloaded installer from its creation to its start. The temporary
// folder may be writable by every user (C:\Windows\Temp when the program runs
// as SYSTEM), so the file is created exclusively under a fresh name, and from
// the end of the download until CreateProcessW has returned it is held open
// for reading with read sharing only: nobody can write, rename or delete it
// between the signature check and the start.
#include <windows.h>

#include <functional>
#include <string>

#include "common/UniqueHandle.h"

class InstallerFile {
public:
    // Gives the next candidate path (a fresh temporary name plus ".exe").
    using NameSource = std::function<bool(std::wstring&)>;

    InstallerFile() = default;
    InstallerFile(const InstallerFile&) = delete;
    InstallerFile& operator=(const InstallerFile&) = delete;

    // Creates an empty file under the first candidate name that does not
    // exist yet (CREATE_NEW, with the security attributes applied at
    // creation), open for writing. A name taken by someone else is left
    // alone and the next one tried. False when no file could be made.
    bool Create(SECURITY_ATTRIBUTES* security);
    bool Create(SECURITY_ATTRIBUTES* security, const NameSource& nextName);
    // The same under a fresh temporary name in the folder.
    bool Create(SECURITY_ATTRIBUTES* security, const std::wstring& folder);

    // Copies the file at source (a local or UNC path) into the created file.
    // False (logged) when it cannot be read, is no plain file, or is larger
    // than maxBytes.
    bool CopyFrom(const std::wstring& source, DWORD maxBytes);

    // The handle the download writes through; open from Create to Hold.
    HANDLE writeHandle() const { return write_.get(); }
    const std::wstring& path() const { return path_; }

    // Ends the writing and opens the file for reading, sharing reading only.
    // False (logged) when that fails or the path no longer names the file
    // that Create made.
    bool Hold();

    // The signer check on the held file.
    bool Verify(wchar_t* errorText) const;
    // Starts the held file with the arguments, in the folder (its current
    // directory, TEMP and TMP), and lets go of it once CreateProcessW has
    // returned; the process handle goes to process when that is given.
    bool Run(const std::wstring& arguments = std::wstring(), const std::wstring& folder = std::wstring(),
             kv::unique_handle* process = nullptr);
    // Closes the file and deletes it and the placeholder that kept its name.
    void Discard();

private:
    std::wstring path_;
    kv::unique_hfile write_;
    kv::unique_hfile held_;
    BY_HANDLE_FILE_INFORMATION created_ = {};
};
