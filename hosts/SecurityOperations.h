#pragma once
// The security calls of the hosts repair, gathered in one table so that a test
// can replace them: file DACLs, ownership and privileges are not kept by every
// platform the tool is tested on. The real program always uses the Win32 table.
#include <windows.h>

class SecurityOperations {
public:
    virtual ~SecurityOperations() = default;

    virtual BOOL ReadFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                                 PSECURITY_DESCRIPTOR descriptor, DWORD length, LPDWORD lengthNeeded) = 0;
    virtual BOOL WriteFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                                 PSECURITY_DESCRIPTOR descriptor) = 0;
    // The descriptor comes from the local heap and is freed with LocalFree.
    virtual BOOL ConvertSddlToDescriptor(LPCWSTR text, DWORD revision,
                                                                     PSECURITY_DESCRIPTOR* descriptor,
                                                                     PULONG size) = 0;
    virtual BOOL SetDescriptorControl(PSECURITY_DESCRIPTOR descriptor,
                                              SECURITY_DESCRIPTOR_CONTROL mask,
                                              SECURITY_DESCRIPTOR_CONTROL bits) = 0;
    virtual BOOL SetDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) = 0;
    virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) = 0;
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) = 0;
    virtual BOOL LookupPrivilege(LPCWSTR systemName, LPCWSTR name, PLUID luid) = 0;
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES privileges,
                                       DWORD length, PTOKEN_PRIVILEGES previous, PDWORD previousLength) = 0;
};

// The calls straight to the system.
class Win32SecurityOperations : public SecurityOperations {
public:
    BOOL ReadFileSecurity(LPCWSTR path, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor,
                         DWORD length, LPDWORD lengthNeeded) override;
    BOOL WriteFileSecurity(LPCWSTR path, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor) override;
    BOOL ConvertSddlToDescriptor(LPCWSTR text, DWORD revision,
                                                             PSECURITY_DESCRIPTOR* descriptor,
                                                             PULONG size) override;
    BOOL SetDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                      SECURITY_DESCRIPTOR_CONTROL bits) override;
    BOOL SetDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) override;
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override;
    BOOL LookupPrivilege(LPCWSTR systemName, LPCWSTR name, PLUID luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES privileges, DWORD length,
                               PTOKEN_PRIVILEGES previous, PDWORD previousLength) override;
};

// The table in use: the Win32 one unless a ScopedSecurityOperations replaces it.
SecurityOperations& CurrentSecurityOperations();

// Puts another table in place for the lifetime of this object (tests only).
class ScopedSecurityOperations {
public:
    explicit ScopedSecurityOperations(SecurityOperations& operations);
    ~ScopedSecurityOperations();
    ScopedSecurityOperations(const ScopedSecurityOperations&) = delete;
    ScopedSecurityOperations& operator=(const ScopedSecurityOperations&) = delete;

private:
    SecurityOperations* previous_;
};
