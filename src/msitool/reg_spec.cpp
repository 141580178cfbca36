#include "msitool/reg_spec.h"

#include <new>

#include "msitool/wide_text.h"

namespace msitool {
namespace {

struct RootName {
    const char16_t* name;
    platform::RegKey key;
};

constexpr RootName kRoots[] = {
    {u"HKEY_CLASSES_ROOT", platform::kHkeyClassesRoot},
    {u"HKEY_CURRENT_USER", platform::kHkeyCurrentUser},
    {u"HKEY_LOCAL_MACHINE", platform::kHkeyLocalMachine},
    {u"HKEY_USERS", platform::kHkeyUsers},
};

// The longest text written as one value; its size in bytes always fits the call's 32 bits.
constexpr size_t kMaxTextChars = 0x10000000;

uint32_t ViewAccess(uint32_t view) {
    if (view == kRegSpecView32) return platform::kKeyWow64_32Key;
    if (view == kRegSpecView64) return platform::kKeyWow64_64Key;
    return 0;
}

// The text parts of a spec, nothing opened yet.
uint32_t SplitRegSpec(const std::u16string& spec, platform::RegKey& root, std::u16string& keyPath,
                      OpenRegSpec& out) {
    size_t rootEnd = spec.find(u'\\');
    if (rootEnd == std::u16string::npos) return kRegSpecMalformed;
    // Searched from the root's own separator, so that "ROOT\\Name" has an empty key path.
    size_t pathEnd = spec.find(u"\\\\", rootEnd);
    if (pathEnd == std::u16string::npos) return kRegSpecMalformed;

    std::u16string rootName = spec.substr(0, rootEnd);
    root = 0;
    for (const RootName& r : kRoots)
        if (EqualsNoCase(rootName, r.name)) root = r.key;
    if (root == 0) return kRegSpecMalformed;

    keyPath = pathEnd == rootEnd ? std::u16string() : spec.substr(rootEnd + 1, pathEnd - rootEnd - 1);
    std::u16string rest = spec.substr(pathEnd + 2);
    size_t bar = rest.find(u'|');
    out.hasData = bar != std::u16string::npos;
    if (out.hasData) {
        out.valueName = rest.substr(0, bar);
        out.data = TrimTrailingBlanks(rest.substr(bar + 1));
    } else {
        out.valueName = TrimTrailingBlanks(rest);
        out.data.clear();
    }
    return kRegSpecOk;
}

uint32_t OpenSpecKey(platform::IRegistry& reg, platform::RegKey root, const std::u16string& keyPath,
                     bool create, uint32_t view, OpenRegSpec& out) {
    out.owned.reset();
    if (keyPath.empty()) {
        out.key = root;
        return kRegSpecOk;
    }
    platform::RegKey key = 0;
    uint32_t rc = create ? reg.CreateKeyExW(root, keyPath, platform::kRegOptionNonVolatile,
                                            platform::kKeyAllAccess | ViewAccess(view), key, nullptr)
                         : reg.OpenKeyExW(root, keyPath, platform::kKeyRead | ViewAccess(view), key);
    if (rc != platform::kErrorSuccess) return kRegSpecOpenFailed;
    out.owned.reset(&reg, key);
    out.key = key;
    return kRegSpecOk;
}

// Reads a decimal number as wcstol does, within 32 bits: no number reads as 0.
uint32_t DwordFromText(const std::u16string& text) {
    size_t pos = 0;
    int32_t value = 0;
    if (!ScanDecimal(text, pos, value)) return 0;
    return static_cast<uint32_t>(value);
}

}  // namespace

uint32_t ParseRegSpec(platform::IRegistry& reg, const std::u16string& spec, bool create, uint32_t view,
                      OpenRegSpec& out) noexcept {
    try {
        platform::RegKey root = 0;
        std::u16string keyPath;
        if (uint32_t rc = SplitRegSpec(spec, root, keyPath, out)) return rc;
        return OpenSpecKey(reg, root, keyPath, create, view, out);
    } catch (const std::bad_alloc&) {
        return kRegSpecOutOfMemory;
    }
}

uint32_t ReadRegSpec(platform::IRegistry& reg, void* buffer, uint32_t* size, const std::u16string& spec,
                     uint32_t view, uint32_t* type) noexcept {
    OpenRegSpec open;
    if (uint32_t rc = ParseRegSpec(reg, spec, false, view, open)) return rc;
    uint32_t rc = reg.QueryValueExW(open.key, open.valueName.c_str(), type, buffer, size);
    if (rc == platform::kErrorSuccess) return kRegSpecOk;
    return rc == platform::kErrorMoreData ? kRegSpecMoreData : kRegSpecAccessFailed;
}

uint32_t WriteRegSpec(platform::IRegistry& reg, const std::u16string& spec, bool flush, uint32_t type,
                      uint32_t view) noexcept {
    try {
        OpenRegSpec open;
        platform::RegKey root = 0;
        std::u16string keyPath;
        if (uint32_t rc = SplitRegSpec(spec, root, keyPath, open)) return rc;
        // Refused before the key is created: a spec without data must not leave an empty key behind.
        if (!open.hasData) return kRegSpecMalformed;
        if (uint32_t rc = OpenSpecKey(reg, root, keyPath, true, view, open)) return rc;

        uint32_t rc = platform::kErrorSuccess;
        if (open.data.empty()) {
            rc = reg.DeleteValueW(open.key, open.valueName.c_str());
            // A value that is not there is as deleted as it can be.
            if (rc == platform::kErrorFileNotFound) rc = platform::kErrorSuccess;
        } else if (type == platform::kRegDword) {
            uint32_t number = DwordFromText(open.data);
            rc = reg.SetValueExW(open.key, open.valueName.c_str(), type, &number, sizeof number);
        } else {
            if (open.data.size() > kMaxTextChars) return kRegSpecAccessFailed;
            std::u16string text = open.data;
            text.push_back(u'\0');
            if (type == platform::kRegMultiSz) text.push_back(u'\0');  // the list's closing terminator
            rc = reg.SetValueExW(open.key, open.valueName.c_str(), type, text.data(),
                                 static_cast<uint32_t>(text.size() * sizeof(char16_t)));
        }
        if (rc != platform::kErrorSuccess) return kRegSpecAccessFailed;
        if (flush) (void)reg.FlushKey(open.key);
        return kRegSpecOk;
    } catch (const std::bad_alloc&) {
        return kRegSpecOutOfMemory;
    }
}

}  // namespace msitool
