// Registry specs: one text naming a value and, for a write, its data:
// root name, "\", key path, "\\", value name, and optionally "|" and the data
// ("HKEY_LOCAL_MACHINE\SOFTWARE\Kelvaris\\Version|2"). An empty key path
// ("HKEY_USERS\\Name") addresses a value of the root key itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace msitool {

// Results of the registry-spec operations.
enum : uint32_t {
    kRegSpecOk = 0,
    kRegSpecOpenFailed = 1,    // the key could not be opened or created
    kRegSpecAccessFailed = 2,  // the value could not be read or written
    kRegSpecMoreData = 3,      // the value does not fit in the caller's buffer
    kRegSpecMalformed = 4,     // no "\\" after the key path, an unknown root, or no data to write
    kRegSpecOutOfMemory = 100,
};

// The view flag of a spec operation.
enum : uint32_t {
    kRegSpecDefaultView = 0,
    kRegSpecView32 = 1,  // KEY_WOW64_32KEY
    kRegSpecView64 = 2,  // KEY_WOW64_64KEY
};

// A parsed spec with its key open. The key is closed when this goes away, unless it is a
// root key, which is never closed.
struct OpenRegSpec {
    platform::UniqueRegKey owned;  // empty for a root key
    platform::RegKey key = 0;      // the key to use: `owned` or the root key
    std::u16string valueName;
    bool hasData = false;  // a "|" was present
    std::u16string data;
};

// Parses `spec` and opens its key (KEY_READ) or, with `create`, creates it
// (KEY_ALL_ACCESS), in the registry view `view` selects.
[[nodiscard]] uint32_t ParseRegSpec(platform::IRegistry& reg, const std::u16string& spec, bool create,
                                    uint32_t view, OpenRegSpec& out) noexcept;

// Reads the value into `buffer` of *size bytes; *size is then the size of the data (or the
// size needed, with kRegSpecMoreData). `type` may be null.
[[nodiscard]] uint32_t ReadRegSpec(platform::IRegistry& reg, void* buffer, uint32_t* size,
                                   const std::u16string& spec, uint32_t view,
                                   uint32_t* type = nullptr) noexcept;

// Writes the data part of `spec` as a value of `type`: REG_DWORD data is read as a decimal
// number, any other type is written as text. Empty data deletes the value. With `flush`
// the key is flushed before it is closed.
[[nodiscard]] uint32_t WriteRegSpec(platform::IRegistry& reg, const std::u16string& spec, bool flush,
                                    uint32_t type, uint32_t view) noexcept;

}  // namespace msitool
