#pragma once
// A stand-in for the security calls: files and folders have a DACL (SDDL
// text), an owner and access rules kept here, and every change is recorded
// in order. Conversions between text and descriptors are the system's own.
#include <windows.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hosts/SecurityOperations.h"

struct FakeObject {
    std::wstring dacl = L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
    bool ownedByAdministrators = false;
    std::wstring owner = L"S-1-5-18";         // while not owned by the Administrators
    bool daclWritable = true;                 // without any ownership step; then as the DACL last written says
    bool ownerWritable = false;               // without the privilege
    bool ownerWritableWithPrivilege = true;
    bool ownerMayWriteDacl = true;            // once the Administrators own it
};

// What a null DACL is recorded as.
extern const wchar_t kNullDacl[];

class RecordingSecurity : public SecurityOperations {
public:
    RecordingSecurity();
    ~RecordingSecurity() override;

    // Objects the test sets up; an unknown path that exists on disk gets a
    // default object on first use.
    FakeObject& object(const std::wstring& path);
    // "dacl <path> <sddl> [attributes]", "owner <path>", "denied-dacl <path>",
    // "denied-owner <path>", "owner-back <path> <sid>", "privilege",
    // "privilege-restore", "privilege-off <name>".
    std::vector<std::wstring> events;
    // The attributes of this file are noted with every DACL write.
    std::wstring watchedFile;

    // Objects exist only while their file or folder does.
    bool requireRealFile = false;
    std::set<std::wstring> refusedDacls;  // DACL texts whose write fails
    bool failOpenProcess = false;
    bool failOpenToken = false;
    bool failLookup = false;
    bool privilegeNotHeld = false;
    bool failOwnerInDescriptor = false;
    bool failControl = false;
    bool privilegeEnabled = false;
    bool restorePrivilegeEnabled = false;
    std::function<void()> onRead;  // runs before each descriptor read

    std::vector<std::wstring> daclWritesTo(const std::wstring& path) const;
    int count(const std::wstring& prefix) const;

    BOOL ReadFileSecurity(LPCWSTR path, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor,
                          DWORD length, LPDWORD lengthNeeded) override;
    BOOL WriteFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                           PSECURITY_DESCRIPTOR descriptor) override;
    BOOL ConvertSddlToDescriptor(LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                                 PULONG size) override;
    BOOL SetDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                              SECURITY_DESCRIPTOR_CONTROL bits) override;
    BOOL SetDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) override;
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override;
    BOOL LookupPrivilege(LPCWSTR systemName, LPCWSTR name, PLUID luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES privileges, DWORD length,
                               PTOKEN_PRIVILEGES previous, PDWORD previousLength) override;

private:
    FakeObject* find(const std::wstring& path);

    std::map<std::wstring, FakeObject> objects_;
    Win32SecurityOperations real_;
    ScopedSecurityOperations scope_;
};

// The DACL of a descriptor as SDDL text, kNullDacl for a null DACL.
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor);
