#include "platform/win32/win32_sddl.h"

#include <sddl.h>

#include <string>

namespace platform::win32 {

SddlAttributes::~SddlAttributes() {
    if (attributes_.lpSecurityDescriptor) ::LocalFree(attributes_.lpSecurityDescriptor);
}

bool SddlAttributes::Init(const char* sddl) {
    if (!sddl) return true;
    std::wstring wide(sddl, sddl + std::char_traits<char>::length(sddl));  // SDDL is plain ASCII
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1, &descriptor,
                                                                nullptr))
        return false;
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor;
    attributes_.bInheritHandle = FALSE;
    return true;
}

}  // namespace platform::win32
