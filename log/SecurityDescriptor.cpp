#include "log/SecurityDescriptor.h"

#include <sddl.h>

namespace KvQmtLogging {

SddlSecurityAttributes::SddlSecurityAttributes(const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        descriptor_.reset(descriptor);
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
}

}  // namespace KvQmtLogging
