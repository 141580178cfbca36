// Registry names the ANSI code page cannot spell. Where Windows keeps its legacy code page
// (it ignores the request for UTF-8 before Windows 10 1903), the narrow enumeration shows
// such a name through best fit: "Ωmega" as "Omega", which may be another key beside it, and
// "报告" as "??". The wide enumeration at the same index tells the two apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/registry.h"

namespace expand {

// The name at `index` among the subkeys (`keys`) or the values of `key`, as the registry keeps
// it, when `narrow`, what the narrow enumeration gave at that index, is no spelling of its own:
// empty when the code page is UTF-8 or when the wide name there survives the code page as
// exactly `narrow`. A user who adds or deletes a key between the two calls shifts the indices;
// then the wide name no longer spells `narrow`, and `narrow` (as far as it converts) is
// returned, so that it is left alone rather than trusted.
inline std::u16string UnspellableRegName(platform::IRegistry& reg, platform::RegKey key, uint32_t index,
                                         bool keys, const std::string& narrow) {
    if (platform::AnsiCodePage() == platform::kCodePageUtf8) return {};
    // Key names hold at most 255 characters, value names 16383.
    std::vector<char16_t> name(keys ? 256 : 16384);
    uint32_t length = static_cast<uint32_t>(name.size());
    const uint32_t rc = keys ? reg.EnumKeyExW(key, index, name.data(), &length)
                             : reg.EnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr);
    if (rc != 0) return platform::AnsiToUtf16(narrow);
    std::u16string real(name.data(), length);
    if (platform::Utf16ToAnsi(real) != narrow) return platform::AnsiToUtf16(narrow);
    return platform::SurvivesAnsi(real) ? std::u16string() : real;
}

}  // namespace expand
