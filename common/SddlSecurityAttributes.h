#pragma once
#include <windows.h>

#include "common/UniqueHandle.h"

namespace kv {

// Security attributes (not inheritable) over a descriptor made from SDDL text.
// When the text cannot be converted, or its DACL cannot be protected as asked,
// the attributes carry no descriptor, so the object gets the default security
// of its creator.
class SddlSecurityAttributes {
public:
    enum class Dacl {
        // Entries inherited from the parent folder are added to the text's.
        KeepInheritance,
        // The text's entries are the whole DACL.
        Protected,
    };

    explicit SddlSecurityAttributes(const wchar_t* sddl, Dacl dacl = Dacl::KeepInheritance);
    SddlSecurityAttributes(const SddlSecurityAttributes&) = delete;
    SddlSecurityAttributes& operator=(const SddlSecurityAttributes&) = delete;

    SECURITY_ATTRIBUTES* get() { return &attributes_; }

private:
    kv::unique_hlocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace kv
