// GUIDs as the seam passes them, and their braced text form.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// GUID.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

bool operator==(const Guid& a, const Guid& b);
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }

// The text StringFromGUID2 writes: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::u16string GuidText(const Guid& guid);

}  // namespace platform
