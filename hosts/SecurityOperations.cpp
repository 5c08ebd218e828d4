#include "hosts/SecurityOperations.h"

#include <sddl.h>

namespace {
Win32SecurityOperations g_win32Operations;
SecurityOperations* g_currentOperations = &g_win32Operations;
}  // namespace

BOOL Win32SecurityOperations::ReadFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                                              PSECURITY_DESCRIPTOR descriptor, DWORD length,
                                              LPDWORD lengthNeeded) {
    return ::GetFileSecurityW(path, information, descriptor, length, lengthNeeded);
}

BOOL Win32SecurityOperations::WriteFileSecurity(LPCWSTR path, SECURITY_INFORMATION information,
                                              PSECURITY_DESCRIPTOR descriptor) {
    return ::SetFileSecurityW(path, information, descriptor);
}

BOOL Win32SecurityOperations::ConvertSddlToDescriptor(
    LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(text, revision, descriptor, size);
}

BOOL Win32SecurityOperations::SetDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                                   SECURITY_DESCRIPTOR_CONTROL bits) {
    return ::SetSecurityDescriptorControl(descriptor, mask, bits);
}

BOOL Win32SecurityOperations::SetDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner,
                                                         BOOL defaulted) {
    return ::SetSecurityDescriptorOwner(descriptor, owner, defaulted);
}

HANDLE Win32SecurityOperations::OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    return ::OpenProcess(access, inherit, processId);
}

BOOL Win32SecurityOperations::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    return ::OpenProcessToken(process, access, token);
}

BOOL Win32SecurityOperations::LookupPrivilege(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
    return ::LookupPrivilegeValueW(systemName, name, luid);
}

BOOL Win32SecurityOperations::AdjustTokenPrivileges(HANDLE token, BOOL disableAll,
                                                    PTOKEN_PRIVILEGES privileges, DWORD length,
                                                    PTOKEN_PRIVILEGES previous, PDWORD previousLength) {
    return ::AdjustTokenPrivileges(token, disableAll, privileges, length, previous, previousLength);
}

SecurityOperations& CurrentSecurityOperations() { return *g_currentOperations; }

ScopedSecurityOperations::ScopedSecurityOperations(SecurityOperations& operations)
    : previous_(g_currentOperations) {
    g_currentOperations = &operations;
}

ScopedSecurityOperations::~ScopedSecurityOperations() { g_currentOperations = previous_; }
