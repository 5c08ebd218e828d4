#pragma once
// Holds one SECURITY_ATTRIBUTES record with a self-relative security
// descriptor, built from SDDL text or read from a file. Record and descriptor
// come from the local heap. Every load first releases what the holder has; a
// failed load leaves it empty.
#include <windows.h>

#include <vector>

#include "common/UniqueHandle.h"

class SecurityAttributes {
public:
    SecurityAttributes() = default;
    ~SecurityAttributes() { Release(); }
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;

    // The DACL and the owner of the file or folder (no group or SACL).
    bool LoadFromFile(const wchar_t* path);
    // keepInheritance false marks the DACL protected from inherited entries.
    bool LoadFromSddl(const wchar_t* text, bool keepInheritance);
    // A copy of a self-relative descriptor kept elsewhere; false when it is
    // not a valid one of at most size bytes.
    bool LoadFromBytes(const BYTE* bytes, size_t size);
    // The descriptor's bytes, to be kept elsewhere; empty when the holder is.
    std::vector<BYTE> Bytes() const;
    // Writes the holder's DACL to the file or folder.
    bool ApplyToFile(const wchar_t* path) const;
    void Release();
    // Whether both holders name the same owner (false when one has none).
    bool SameOwnerAs(const SecurityAttributes& other) const;

    bool empty() const { return !record_; }
    // Null when empty; for CreateFileW and friends.
    SECURITY_ATTRIBUTES* get() const { return static_cast<SECURITY_ATTRIBUTES*>(record_.get()); }
    PSECURITY_DESCRIPTOR descriptor() const { return descriptor_.get(); }

private:
    bool AllocateRecord();
    void Adopt(PSECURITY_DESCRIPTOR descriptor);

    // Declared in this order so that the descriptor goes before the record.
    kv::unique_hlocal record_;
    kv::unique_hlocal descriptor_;
};
