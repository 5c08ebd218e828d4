#include "hosts/SecurityAttributes.h"

#include <sddl.h>

#include "hosts/SecurityOperations.h"

bool SecurityAttributes::AllocateRecord() {
    record_.reset(::LocalAlloc(LPTR, sizeof(SECURITY_ATTRIBUTES)));
    if (!record_) return false;
    get()->nLength = sizeof(SECURITY_ATTRIBUTES);
    get()->bInheritHandle = FALSE;
    return true;
}

void SecurityAttributes::Adopt(PSECURITY_DESCRIPTOR descriptor) {
    descriptor_.reset(descriptor);
    get()->lpSecurityDescriptor = descriptor;
}

bool SecurityAttributes::LoadFromFile(const wchar_t* path) {
    if (!path) return false;
    Release();
    if (!AllocateRecord()) return false;
    SecurityOperations& security = CurrentSecurityOperations();
    // The owner is kept too: taking ownership and replacing the file both
    // change it, and it is put back with the DACL.
    const SECURITY_INFORMATION recorded = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION;
    DWORD needed = 0;
    if (security.ReadFileSecurity(path, recorded, nullptr, 0, &needed) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        Release();
        return false;
    }
    Adopt(::LocalAlloc(LPTR, needed));
    if (!descriptor_ ||
        !security.ReadFileSecurity(path, recorded, descriptor_.get(), needed, &needed)) {
        Release();
        return false;
    }
    return true;
}

bool SecurityAttributes::LoadFromSddl(const wchar_t* text, bool keepInheritance) {
    Release();
    if (!text || !AllocateRecord()) return false;
    SecurityOperations& security = CurrentSecurityOperations();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!security.ConvertSddlToDescriptor(text, SDDL_REVISION_1, &descriptor, nullptr)) {
        Release();
        return false;
    }
    Adopt(descriptor);
    if (keepInheritance) return true;
    // The descriptor stays in the holder even when this fails.
    return security.SetDescriptorControl(descriptor_.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED) != FALSE;
}

bool SecurityAttributes::LoadFromBytes(const BYTE* bytes, size_t size) {
    Release();
    PSECURITY_DESCRIPTOR source = const_cast<BYTE*>(bytes);
    if (!bytes || size == 0 || !::IsValidSecurityDescriptor(source) ||
        ::GetSecurityDescriptorLength(source) > size || !AllocateRecord()) {
        Release();
        return false;
    }
    const DWORD length = ::GetSecurityDescriptorLength(source);
    Adopt(::LocalAlloc(LPTR, length));
    if (!descriptor_) {
        Release();
        return false;
    }
    ::CopyMemory(descriptor_.get(), bytes, length);
    return true;
}

std::vector<BYTE> SecurityAttributes::Bytes() const {
    if (!descriptor_) return std::vector<BYTE>();
    const BYTE* bytes = static_cast<const BYTE*>(descriptor_.get());
    return std::vector<BYTE>(bytes, bytes + ::GetSecurityDescriptorLength(descriptor_.get()));
}

bool SecurityAttributes::ApplyToFile(const wchar_t* path) const {
    if (empty() || !descriptor_ || !path) return false;
    return CurrentSecurityOperations().WriteFileSecurity(path, DACL_SECURITY_INFORMATION, descriptor_.get()) !=
           FALSE;
}

void SecurityAttributes::Release() {
    descriptor_.reset();
    record_.reset();
}

bool SecurityAttributes::SameOwnerAs(const SecurityAttributes& other) const {
    PSID mine = nullptr;
    PSID theirs = nullptr;
    BOOL defaulted = FALSE;
    return descriptor_ && other.descriptor_ && ::GetSecurityDescriptorOwner(descriptor_.get(), &mine, &defaulted) &&
           ::GetSecurityDescriptorOwner(other.descriptor_.get(), &theirs, &defaulted) && mine && theirs &&
           ::EqualSid(mine, theirs);
}
