// SECURITY_ATTRIBUTES built from an SDDL text, owning the descriptor it converts.
#pragma once

#include <windows.h>

namespace platform::win32 {

class SddlAttributes {
  public:
    SddlAttributes() = default;
    SddlAttributes(const SddlAttributes&) = delete;
    SddlAttributes& operator=(const SddlAttributes&) = delete;
    ~SddlAttributes();

    // Converts `sddl` (null: default security). False, with the last error of the
    // conversion, when the text is not a valid descriptor.
    bool Init(const char* sddl);
    // The attributes to pass, or null for default security.
    SECURITY_ATTRIBUTES* get() { return attributes_.lpSecurityDescriptor ? &attributes_ : nullptr; }

  private:
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace platform::win32
