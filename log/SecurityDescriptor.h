#pragma once
#include <windows.h>

#include "common/UniqueHandle.h"

namespace KvQmtLogging {

// Security attributes (not inheritable) over a descriptor made from SDDL text.
// When the text cannot be converted the attributes carry no descriptor, so
// the object gets the default security of its creator.
class SddlSecurityAttributes {
public:
    explicit SddlSecurityAttributes(const char* sddl);
    SddlSecurityAttributes(const SddlSecurityAttributes&) = delete;
    SddlSecurityAttributes& operator=(const SddlSecurityAttributes&) = delete;

    SECURITY_ATTRIBUTES* get() { return &attributes_; }
    bool HasDescriptor() const { return static_cast<bool>(descriptor_); }

private:
    kv::unique_hlocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace KvQmtLogging
