#include "platform/acl_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

struct Alias {
    const char* name;
    const char* sid;
};

// The aliases the descriptor language uses for well-known SIDs that a file or key may name.
constexpr Alias kSidAliases[] = {
    {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"},
    {"NU", "S-1-5-2"},      {"IU", "S-1-5-4"},      {"SU", "S-1-5-6"},      {"AN", "S-1-5-7"},
    {"PS", "S-1-5-10"},     {"AU", "S-1-5-11"},     {"RC", "S-1-5-12"},     {"SY", "S-1-5-18"},
    {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
    {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"AO", "S-1-5-32-548"}, {"SO", "S-1-5-32-549"},
    {"PO", "S-1-5-32-550"}, {"BO", "S-1-5-32-551"}, {"RE", "S-1-5-32-552"}, {"RU", "S-1-5-32-554"},
    {"RD", "S-1-5-32-555"}, {"NO", "S-1-5-32-556"}, {"AC", "S-1-15-2-1"},
};

struct Right {
    const char* name;
    uint32_t mask;
};

constexpr Right kRightAliases[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000}, {"SD", 0x00010000},
    {"RC", 0x00020000}, {"WD", 0x00040000}, {"WO", 0x00080000}, {"KA", 0x000F003F}, {"KR", 0x00020019},
    {"KW", 0x00020006}, {"KX", 0x00020019}, {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116},
    {"FX", 0x001200A0}, {"CC", 0x00000001}, {"DC", 0x00000002}, {"LC", 0x00000004}, {"SW", 0x00000008},
    {"RP", 0x00000010}, {"WP", 0x00000020}, {"DT", 0x00000040}, {"LO", 0x00000080}, {"CR", 0x00000100},
};

struct Flag {
    const char* name;
    uint8_t bit;
};

constexpr Flag kAceFlags[] = {
    {"OI", kObjectInheritAce}, {"CI", kContainerInheritAce}, {"NP", kNoPropagateInheritAce},
    {"IO", kInheritOnlyAce},   {"ID", kInheritedAce},
};

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// The dash-separated numbers after "S-": revision, authority, sub-authorities.
bool SplitSid(const std::string& text, std::vector<std::string>& parts) {
    if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return false;
    parts.clear();
    size_t start = 2;
    while (true) {
        size_t dash = text.find('-', start);
        std::string part = text.substr(start, dash == std::string::npos ? std::string::npos : dash - start);
        if (!AllDigits(part)) return false;
        parts.push_back(part);
        if (dash == std::string::npos) break;
        start = dash + 1;
    }
    // Revision 1, an authority, and 1 to 15 sub-authorities.
    return parts.size() >= 3 && parts.size() <= 17 && parts[0] == "1";
}

bool ParseMask(const std::string& text, uint32_t& mask) {
    if (text.empty()) return false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        char* end = nullptr;
        unsigned long v = std::strtoul(text.c_str() + 2, &end, 16);
        if (*end != '\0' || text.size() > 10) return false;
        mask = static_cast<uint32_t>(v);
        return true;
    }
    if (AllDigits(text)) {
        if (text.size() > 10) return false;
        unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
        if (v > 0xFFFFFFFFull) return false;
        mask = static_cast<uint32_t>(v);
        return true;
    }
    if (text.size() % 2 != 0) return false;
    mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        std::string two = text.substr(i, 2);
        bool known = false;
        for (const Right& r : kRightAliases)
            if (two == r.name) {
                mask |= r.mask;
                known = true;
            }
        if (!known) return false;
    }
    return true;
}

bool ParseFlags(const std::string& text, uint8_t& flags) {
    if (text.size() % 2 != 0) return false;
    flags = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        std::string two = text.substr(i, 2);
        bool known = false;
        for (const Flag& f : kAceFlags)
            if (two == f.name) {
                flags |= f.bit;
                known = true;
            }
        if (!known) return false;
    }
    return true;
}

bool ParseAce(const std::string& body, AceText& ace) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t semi = body.find(';', start);
        fields.push_back(body.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return false;
    if (fields[0] == "A")
        ace.type = kAccessAllowedAceType;
    else if (fields[0] == "D")
        ace.type = kAccessDeniedAceType;
    else
        return false;
    if (!ParseFlags(fields[1], ace.flags) || !ParseMask(fields[2], ace.mask)) return false;
    ace.sid = CanonicalSid(fields[5]);
    return !ace.sid.empty();
}

}  // namespace

std::string CanonicalSid(const std::string& text) {
    for (const Alias& a : kSidAliases)
        if (text == a.name) return a.sid;
    std::vector<std::string> parts;
    if (!SplitSid(text, parts)) return std::string();
    std::string out = "S";
    for (const std::string& p : parts) out += "-" + p;
    return out;
}

bool EqualSidText(const std::string& a, const std::string& b) {
    std::string ca = CanonicalSid(a);
    return !ca.empty() && ca == CanonicalSid(b);
}

uint32_t SidLength(const std::string& sid) {
    std::vector<std::string> parts;
    if (!SplitSid(CanonicalSid(sid), parts)) return 0;
    return 8 + 4 * static_cast<uint32_t>(parts.size() - 2);
}

bool ParseDaclText(const std::string& text, std::vector<AceText>& aces, bool* isProtected) {
    aces.clear();
    if (isProtected != nullptr) *isProtected = false;
    if (text.compare(0, 2, "D:") != 0) return false;
    size_t pos = 2;
    // Control flags come before the first entry.
    while (pos < text.size() && text[pos] != '(') {
        if (text.compare(pos, 2, "AI") == 0 || text.compare(pos, 2, "AR") == 0) {
            pos += 2;
        } else if (text[pos] == 'P') {
            if (isProtected != nullptr) *isProtected = true;
            pos += 1;
        } else {
            return false;
        }
    }
    while (pos < text.size()) {
        if (text[pos] != '(') return false;
        size_t close = text.find(')', pos);
        if (close == std::string::npos) return false;
        AceText ace;
        if (!ParseAce(text.substr(pos + 1, close - pos - 1), ace)) return false;
        aces.push_back(ace);
        pos = close + 1;
    }
    return true;
}

std::string FormatDaclText(const std::vector<AceText>& aces, bool isProtected) {
    std::string out = isProtected ? "D:P" : "D:";
    for (const AceText& ace : aces) {
        std::string flags;
        for (const Flag& f : kAceFlags)
            if (ace.flags & f.bit) flags += f.name;
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%X", static_cast<unsigned>(ace.mask));
        out += "(";
        out += ace.type == kAccessDeniedAceType ? "D" : "A";
        out += ";" + flags + ";" + mask + ";;;" + ace.sid + ")";
    }
    return out;
}

}  // namespace platform
