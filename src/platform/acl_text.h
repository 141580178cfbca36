// The text form in which the seam carries SIDs and access lists: a SID as "S-1-5-32-544",
// a DACL as "D:" followed by its entries "(type;flags;mask;;;sid)". Both backends and the
// access-list code above them read and write it here, so that there is one parser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum : uint8_t {
    kAccessAllowedAceType = 0,
    kAccessDeniedAceType = 1,

    kObjectInheritAce = 0x01,
    kContainerInheritAce = 0x02,
    kNoPropagateInheritAce = 0x04,
    kInheritOnlyAce = 0x08,
    kInheritedAce = 0x10,
};

// One access-allowed or access-denied entry.
struct AceText {
    uint8_t type = kAccessAllowedAceType;
    uint8_t flags = 0;
    uint32_t mask = 0;
    std::string sid;  // full form, "S-1-1-0"

    bool operator==(const AceText& o) const {
        return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
    }
};

// The full form of a SID written either in full (any letter case) or as one of the
// two-letter aliases of the descriptor language ("WD", "BA", "SY", ...); empty when it is
// neither.
std::string CanonicalSid(const std::string& text);

// Both SIDs name the same account (EqualSid).
bool EqualSidText(const std::string& a, const std::string& b);

// The size in bytes of the SID as Windows stores it (GetLengthSid); 0 for a malformed text.
uint32_t SidLength(const std::string& sid);

// Reads a DACL text. Control flags after "D:" ("P", "AI", "AR") are accepted; `isProtected`
// (may be null) tells whether "P" was among them. Masks may be hex ("0x1F01FF"), decimal or
// made of right aliases ("GA", "KA", "FRFW"). Only access-allowed ("A") and access-denied
// ("D") entries are understood; anything else makes the whole text unreadable (false).
bool ParseDaclText(const std::string& text, std::vector<AceText>& aces, bool* isProtected = nullptr);

// Writes "D:" (and "P" when protected) followed by each entry with a hex mask and a full SID.
std::string FormatDaclText(const std::vector<AceText>& aces, bool isProtected = false);

}  // namespace platform
