#include "common/SddlSecurityAttributes.h"

#include <sddl.h>

namespace kv {

SddlSecurityAttributes::SddlSecurityAttributes(const wchar_t* sddl, Dacl dacl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl && ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        descriptor_.reset(descriptor);
        if (dacl == Dacl::Protected &&
            !::SetSecurityDescriptorControl(descriptor_.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            // Half of what was asked would let the parent's entries in.
            descriptor_.reset();
        }
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
}

}  // namespace kv
