#include "platform/sim/sim_registry.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <string_view>

#include "platform/ansi.h"
#include "platform/environment_text.h"
#include "platform/unicode_text.h"

namespace platform::sim {

namespace {

constexpr uint32_t kGenericReadRight = 0x80000000;
constexpr uint32_t kGenericWriteRight = 0x40000000;
constexpr uint32_t kGenericExecuteRight = 0x20000000;
constexpr uint32_t kGenericAllRight = 0x10000000;
constexpr uint32_t kMaximumAllowed = 0x02000000;

constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorNoAccess = 998;
constexpr uint32_t kErrorChildMustBeVolatile = 1021;

// The A functions convert a key path into a buffer of 260 characters and report 234 beyond it.
constexpr size_t kMaxAnsiKeyPath = 260;
constexpr size_t kMaxKeyNameLength = 256;
constexpr size_t kMaxValueNameLength = 16383;

const char kWow6432Node[] = "WOW6432Node";
const char kClasses[] = "Classes";

bool SameName(const std::string& a, const std::string& b) {
    return AnsiCompareNoCase(a.c_str(), b.c_str()) == 0;
}

// A name of an A call as the registry reads it: converted with the code page of the moment.
std::u16string Wide(const std::string& narrow) { return AnsiToUtf16(narrow); }

uint32_t FoldUnit(char16_t c) {
    if (c < 0x80) return c >= u'A' && c <= u'Z' ? c + 32u : c;
    return SimpleUpper(c);
}

int CompareWide(const std::u16string& a, const std::u16string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t x = FoldUnit(a[i]), y = FoldUnit(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameWide(const std::u16string& a, const std::u16string& b) { return CompareWide(a, b) == 0; }

bool IsStringType(uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

// The rights a request stands for once generic rights are mapped and the view flags,
// which are not rights, are dropped.
uint32_t MapAccess(uint32_t access, uint32_t denied) {
    uint32_t mapped = access & ~(kGenericReadRight | kGenericWriteRight | kGenericExecuteRight |
                                 kGenericAllRight | kMaximumAllowed | kKeyWow64_64Key | kKeyWow64_32Key);
    if (access & (kGenericReadRight | kGenericExecuteRight)) mapped |= kKeyRead;
    if (access & kGenericWriteRight) mapped |= kKeyWrite;
    if (access & kGenericAllRight) mapped |= kKeyAllAccess;
    if (access & kMaximumAllowed) mapped |= kKeyAllAccess & ~denied;
    return mapped;
}

// The Win32 buffer protocol of the value queries: a null buffer asks the size, a small one
// gets 234 and the size needed.
uint32_t CopyOut(const std::vector<uint8_t>& bytes, void* data, uint32_t* size) {
    uint32_t needed = static_cast<uint32_t>(bytes.size());
    if (data == nullptr) {
        if (size != nullptr) *size = needed;
        return kErrorSuccess;
    }
    if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    if (needed != 0) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return kErrorSuccess;
}

// A name into a caller's buffer of *length characters; on success *length is the name's
// length. A buffer too small is left alone, and so is *length.
uint32_t CopyName(const std::string& text, char* name, uint32_t* length) {
    if (text.size() >= *length) return kErrorMoreData;
    std::memcpy(name, text.c_str(), text.size() + 1);
    *length = static_cast<uint32_t>(text.size());
    return kErrorSuccess;
}

// String data as RegQueryValueExW returns it: every stored byte widened, terminators included.
bool WidenStringData(const std::vector<uint8_t>& data, std::vector<uint8_t>& out) {
    std::u16string wide;
    if (!data.empty() && !AnsiToUtf16(reinterpret_cast<const char*>(data.data()), data.size(), wide))
        return false;
    out.resize(wide.size() * sizeof(char16_t));
    if (!wide.empty()) std::memcpy(out.data(), wide.data(), out.size());
    return true;
}

bool FitsCodePage(const std::u16string& text) { return AnsiToUtf16(Utf16ToAnsi(text)) == text; }

uint32_t CopyWideName(const std::u16string& text, char16_t* name, uint32_t* length) {
    if (text.size() >= *length) return kErrorMoreData;
    std::memcpy(name, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    *length = static_cast<uint32_t>(text.size());
    return kErrorSuccess;
}

}  // namespace

bool SimNameLess::operator()(const std::u16string& a, const std::u16string& b) const {
    return CompareWide(a, b) < 0;
}

SimRegistry::SimRegistry(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {
    auto root = [](const char* name) {
        auto node = std::make_shared<SimKeyNode>();
        node->name = name;
        node->wideName = Wide(name);
        node->predefined = true;
        return node;
    };
    hkcu_ = root("HKEY_CURRENT_USER");
    hklm_ = root("HKEY_LOCAL_MACHINE");
    hku_ = root("HKEY_USERS");
    hkcc_ = root("HKEY_CURRENT_CONFIG");
    hkdd_ = root("HKEY_DYN_DATA");
    auto child = [](const NodePtr& parent, const char* name) {
        auto node = std::make_shared<SimKeyNode>();
        node->name = name;
        node->wideName = Wide(name);
        node->parent = parent.get();
        parent->children[node->wideName] = node;
        return node;
    };
    for (const char* name : {"HARDWARE", "SAM", "SECURITY"}) child(hklm_, name);
    // The control set in use is reached through a link the system makes at each start, to
    // the set that Select names.
    NodePtr machineSystem = child(hklm_, "SYSTEM");
    child(machineSystem, "ControlSet001");
    NodePtr select = child(machineSystem, "Select");
    const uint32_t current = 1;
    SimRegValue& chosen = StoreValue(*select, u"Current");
    chosen.type = kRegDword;
    chosen.data.assign(reinterpret_cast<const uint8_t*>(&current),
                       reinterpret_cast<const uint8_t*>(&current) + sizeof current);
    NodePtr controlSet = child(machineSystem, "CurrentControlSet");
    controlSet->link = true;
    SetLinkTarget(*controlSet, "\\Registry\\Machine\\SYSTEM\\ControlSet001");
    NodePtr software = child(hklm_, "SOFTWARE");
    software->redirectedFor32 = true;
    child(software, kWow6432Node);
    // The classes root is the machine's Classes key, which both views share.
    hkcr_ = child(software, kClasses);
    hkcr_->predefined = true;
    child(hkcu_, "Software");
    child(hku_, ".DEFAULT");
}

SimRegistry::NodePtr SimRegistry::RootNode(RegKey root) const {
    switch (root) {
        case kHkeyClassesRoot:
            return hkcr_;
        case kHkeyCurrentUser:
            return hkcu_;
        case kHkeyLocalMachine:
            return hklm_;
        case kHkeyUsers:
            return hku_;
        case kHkeyCurrentConfig:
            return hkcc_;
        case kHkeyDynData:
            return hkdd_;
        default:
            return nullptr;
    }
}

SimRegistry::NodePtr SimRegistry::RootByName(const std::string& name) const {
    static const std::pair<const char*, RegKey> names[] = {
        {"HKEY_CLASSES_ROOT", kHkeyClassesRoot},
        {"HKCR", kHkeyClassesRoot},
        {"HKEY_CURRENT_USER", kHkeyCurrentUser},
        {"HKCU", kHkeyCurrentUser},
        {"HKEY_LOCAL_MACHINE", kHkeyLocalMachine},
        {"HKLM", kHkeyLocalMachine},
        {"HKEY_USERS", kHkeyUsers},
        {"HKU", kHkeyUsers},
        {"HKEY_CURRENT_CONFIG", kHkeyCurrentConfig},
        {"HKCC", kHkeyCurrentConfig},
        // The names the access-control functions give registry keys.
        {"CLASSES_ROOT", kHkeyClassesRoot},
        {"CURRENT_USER", kHkeyCurrentUser},
        {"MACHINE", kHkeyLocalMachine},
        {"USERS", kHkeyUsers},
    };
    for (const auto& [text, key] : names)
        if (SameName(name, text)) return RootNode(key);
    return nullptr;
}

uint32_t SimRegistry::Resolve(RegKey key, NodePtr& node, uint32_t& access) const {
    if (NodePtr root = RootNode(key)) {
        node = root;
        access = kKeyAllAccess;
        return kErrorSuccess;
    }
    auto it = handles_.find(key);
    if (it == handles_.end()) return kErrorInvalidHandle;
    if (it->second.node->deleted) return kErrorKeyDeleted;
    node = it->second.node;
    access = it->second.access;
    return kErrorSuccess;
}

uint32_t SimRegistry::Walk(const NodePtr& start, const std::u16string& subKey, bool view64, bool create,
                           NodePtr& out, bool* created, bool arrange, bool openLink, int hops,
                           bool makeVolatile) const {
    if (created != nullptr) *created = false;
    if (!subKey.empty() && subKey[0] == u'\\') return kErrorBadPathname;
    NodePtr cur = start;
    // A name below a link runs on through it, even from a handle of the link itself.
    if (cur->link && subKey.find_first_not_of(u'\\') != std::u16string::npos)
        if (uint32_t rc = FollowLink(start, hops, cur)) return rc;
    bool redirected = false;
    size_t pos = 0;
    while (pos < subKey.size()) {
        size_t end = subKey.find(u'\\', pos);
        if (end == std::u16string::npos) end = subKey.size();
        std::u16string part = subKey.substr(pos, end - pos);
        pos = end + 1;
        // Doubled and trailing backslashes name no extra key.
        if (part.empty()) continue;
        if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
        // Naming WOW6432Node right after the redirected key names the 32-bit view itself.
        if (redirected && SameWide(part, u"WOW6432Node")) {
            redirected = false;
            continue;
        }
        // Classes is not redirected: the 32-bit view sees the native key.
        if (redirected && SameWide(part, u"Classes")) {
            cur = hkcr_;
            redirected = false;
            continue;
        }
        auto it = cur->children.find(part);
        NodePtr next;
        if (it != cur->children.end()) {
            next = it->second;
            if (created != nullptr) *created = false;
            const bool lastPart =
                pos >= subKey.size() || subKey.find_first_not_of(u'\\', pos) == std::u16string::npos;
            if (next->link && !(openLink && lastPart)) {
                NodePtr target;
                if (uint32_t rc = FollowLink(next, hops, target)) return rc;
                next = target;
            }
        } else {
            if (!create) return kErrorFileNotFound;
            if (!arrange && (cur->security.deniedAccess & kKeyCreateSubKey)) return kErrorAccessDenied;
            // Every missing key on the path is made with the options of the call, so a
            // stable key below a volatile one fails before anything is made.
            if (!arrange && cur->isVolatile && !makeVolatile) return kErrorChildMustBeVolatile;
            next = std::make_shared<SimKeyNode>();
            next->name = Utf16ToAnsi(part);
            next->wideName = part;
            next->parent = cur.get();
            next->isVolatile = makeVolatile;
            cur->children[part] = next;
            if (created != nullptr) *created = true;
        }
        cur = next;
        redirected = false;
        if (cur->redirectedFor32 && !view64 && system_.is64BitWindows) {
            NodePtr& wow = cur->children[u"WOW6432Node"];
            if (!wow) {
                wow = std::make_shared<SimKeyNode>();
                wow->name = kWow6432Node;
                wow->wideName = u"WOW6432Node";
                wow->parent = cur.get();
            }
            cur = wow;
            redirected = true;
        }
    }
    out = cur;
    return kErrorSuccess;
}

uint32_t SimRegistry::FollowLink(const NodePtr& link, int hops, NodePtr& out) const {
    constexpr int kMaxHops = 16;
    if (hops >= kMaxHops) return kErrorFilenameExcedRange;
    const SimRegValue* v = FindValue(*link, u"SymbolicLinkValue");
    if (v == nullptr || v->type != kRegLink) return kErrorFileNotFound;
    std::u16string target(v->data.size() / sizeof(char16_t), u'\0');
    if (!target.empty()) std::memcpy(&target[0], v->data.data(), target.size() * sizeof(char16_t));
    static const std::pair<std::u16string_view, RegKey> kNative[] = {
        {u"\\Registry\\Machine", kHkeyLocalMachine}, {u"\\Registry\\User", kHkeyUsers}};
    for (const auto& [prefix, root] : kNative) {
        const size_t n = prefix.size();
        if (target.size() < n || !SameWide(target.substr(0, n), std::u16string(prefix))) continue;
        if (target.size() > n && target[n] != u'\\') continue;
        const std::u16string rest = target.size() > n ? target.substr(n + 1) : std::u16string();
        return Walk(RootNode(root), rest, true, false, out, nullptr, false, false, hops + 1);
    }
    return kErrorFileNotFound;
}

SimRegistry::NodePtr SimRegistry::FindPath(const std::string& path, View view) const {
    size_t slash = path.find('\\');
    NodePtr root = RootByName(path.substr(0, slash));
    if (!root) return nullptr;
    std::u16string rest = slash == std::string::npos ? std::u16string() : Wide(path.substr(slash + 1));
    NodePtr node;
    if (Walk(root, rest, view == View::K64, false, node, nullptr, false, true) != kErrorSuccess)
        return nullptr;
    return node;
}

SimRegistry::NodePtr SimRegistry::MakePath(const std::string& path, View view) {
    size_t slash = path.find('\\');
    NodePtr root = RootByName(path.substr(0, slash));
    if (!root) return nullptr;
    std::u16string rest = slash == std::string::npos ? std::u16string() : Wide(path.substr(slash + 1));
    NodePtr node;
    if (Walk(root, rest, view == View::K64, true, node, nullptr, true, true) != kErrorSuccess) return nullptr;
    return node;
}

std::string SimRegistry::FullPath(const SimKeyNode* node) {
    std::string path = node->name;
    for (const SimKeyNode* p = node->parent; p != nullptr; p = p->parent) path = p->name + "\\" + path;
    return path;
}

SimRegValue* SimRegistry::FindValue(SimKeyNode& node, const std::u16string& name) {
    auto it = std::lower_bound(
        node.values.begin(), node.values.end(), name,
        [](const SimRegValue& v, const std::u16string& n) { return SimNameLess()(v.wideName, n); });
    return it != node.values.end() && SameWide(it->wideName, name) ? &*it : nullptr;
}

SimRegValue& SimRegistry::StoreValue(SimKeyNode& node, const std::u16string& name) {
    auto it = std::lower_bound(
        node.values.begin(), node.values.end(), name,
        [](const SimRegValue& v, const std::u16string& n) { return SimNameLess()(v.wideName, n); });
    if (it != node.values.end() && SameWide(it->wideName, name)) return *it;
    SimRegValue value;
    value.name = Utf16ToAnsi(name);
    value.wideName = name;
    return *node.values.insert(it, std::move(value));
}

RegKey SimRegistry::NewHandle(const NodePtr& node, uint32_t access) {
    RegKey key = next_;
    next_ += 4;
    handles_[key] = Handle{node, access};
    return key;
}

void SimRegistry::SimulateRestart() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::function<void(const NodePtr&)> drop = [&drop](const NodePtr& node) {
        for (auto it = node->children.begin(); it != node->children.end();) {
            if (it->second->isVolatile) {
                it->second->deleted = true;
                it = node->children.erase(it);
            } else {
                drop(it->second);
                ++it;
            }
        }
    };
    for (const NodePtr& root : {hkcr_, hkcu_, hklm_, hku_, hkcc_})
        if (root) drop(root);
}

uint32_t SimRegistry::DeleteNode(const NodePtr& node) {
    if (node->predefined || !node->children.empty()) return kErrorAccessDenied;
    if (node->security.deniedAccess & kDelete) return kErrorAccessDenied;
    Unlink(node);
    return kErrorSuccess;
}

void SimRegistry::Unlink(const NodePtr& node) {
    node->deleted = true;
    node->parent->children.erase(node->wideName);
    std::vector<std::string> values;
    for (const SimRegValue& v : node->values) values.push_back(v.name);
    Report(*node, true, std::move(values));
}

void SimRegistry::Report(const SimKeyNode& node, bool wholeKey, std::vector<std::string> values) const {
    if (!onDelete) return;
    SimRegDeletion d;
    d.key = FullPath(&node);
    d.wholeKey = wholeKey;
    d.values = std::move(values);
    d.byService = Faults::ServiceAtWork();
    onDelete(d);
}

uint32_t SimRegistry::DeleteChildren(const NodePtr& node) {
    if (node->security.deniedAccess & (kKeyEnumerateSubKeys | kKeyQueryValue)) return kErrorAccessDenied;
    std::vector<NodePtr> children;
    for (const auto& entry : node->children) children.push_back(entry.second);
    for (const NodePtr& child : children) {
        if (child->link) {
            // The shell opens a subkey by name, so a link takes it to the target, which goes
            // whole; the link stays, since deleting it by name follows it again.
            NodePtr target;
            if (uint32_t rc = FollowLink(child, 0, target)) return rc;
            if (uint32_t rc = DeleteChildren(target)) return rc;
            if (uint32_t rc = DeleteNode(target)) return rc;
            return kErrorFileNotFound;
        }
        if (uint32_t rc = DeleteChildren(child)) return rc;
        if (uint32_t rc = DeleteNode(child)) return rc;
    }
    return kErrorSuccess;
}

uint32_t SimRegistry::ResolveSub(RegKey parent, const std::string& subKey, uint32_t needed,
                                 NodePtr& node) const {
    if (subKey.size() > kMaxAnsiKeyPath) return kErrorMoreData;
    NodePtr start;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(parent, start, access)) return rc;
    if (uint32_t rc = Walk(start, Wide(subKey), false, false, node, nullptr)) return rc;
    if (node->security.deniedAccess & needed) return kErrorAccessDenied;
    return kErrorSuccess;
}

std::string SimRegistry::ExpandEnvironment(const std::string& text) const {
    return ExpandEnvironmentText(system_, text);
}

uint32_t SimRegistry::EraseValue(SimKeyNode& node, const std::u16string& name) {
    for (auto it = node.values.begin(); it != node.values.end(); ++it) {
        if (!SameWide(it->wideName, name)) continue;
        if (it->deniedAccess & (kKeySetValue | kDelete)) return kErrorAccessDenied;
        std::string stored = it->name;
        node.values.erase(it);
        Report(node, false, {std::move(stored)});
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

// --- test helpers ---

bool SimRegistry::CreatePath(const std::string& path, View view) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return MakePath(path, view) != nullptr;
}

bool SimRegistry::Exists(const std::string& path, View view) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return FindPath(path, view) != nullptr;
}

bool SimRegistry::Set(const std::string& path, const std::string& name, uint32_t type,
                      const std::vector<uint8_t>& data, View view) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node = MakePath(path, view);
    if (!node) return false;
    SimRegValue& v = StoreValue(*node, Wide(name));
    v.type = type;
    v.data = data;
    return true;
}

bool SimRegistry::SetString(const std::string& path, const std::string& name, const std::string& value,
                            View view, uint32_t type) {
    std::vector<uint8_t> data(value.begin(), value.end());
    data.push_back(0);
    return Set(path, name, type, data, view);
}

bool SimRegistry::SetDword(const std::string& path, const std::string& name, uint32_t value, View view) {
    std::vector<uint8_t> data(4);
    for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
    return Set(path, name, kRegDword, data, view);
}

bool SimRegistry::ValueExists(const std::string& path, const std::string& name, View view) const {
    return GetValue(path, name, view) != nullptr;
}

const SimRegValue* SimRegistry::GetValue(const std::string& path, const std::string& name, View view) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node = FindPath(path, view);
    return node ? FindValue(*node, Wide(name)) : nullptr;
}

SimRegValue* SimRegistry::GetValue(const std::string& path, const std::string& name, View view) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node = FindPath(path, view);
    return node ? FindValue(*node, Wide(name)) : nullptr;
}

std::vector<std::string> SimRegistry::KeysUnder(const std::string& path, View view) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> names;
    if (NodePtr node = FindPath(path, view))
        for (const auto& entry : node->children) names.push_back(entry.second->name);
    return names;
}

std::vector<std::string> SimRegistry::ValuesUnder(const std::string& path, View view) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> names;
    if (NodePtr node = FindPath(path, view))
        for (const auto& v : node->values) names.push_back(v.name);
    return names;
}

SimKeySecurity* SimRegistry::SecurityOf(const std::string& path, View view) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node = FindPath(path, view);
    return node ? &node->security : nullptr;
}

namespace {
const SimKeyNode* FindKeyRecord(const SimKeyNode& node, const SimKeySecurity* security) {
    if (&node.security == security) return &node;
    if (node.link) return nullptr;
    for (const auto& entry : node.children)
        if (const SimKeyNode* found = FindKeyRecord(*entry.second, security)) return found;
    return nullptr;
}
}  // namespace

std::vector<SimKeySecurity*> SimRegistry::SubkeysOf(const SimKeySecurity* security) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<SimKeySecurity*> out;
    for (const NodePtr& root : {hklm_, hkcu_, hku_, hkcc_, hkdd_}) {
        const SimKeyNode* node = FindKeyRecord(*root, security);
        if (node == nullptr) continue;
        if (!node->link)
            for (const auto& entry : node->children) out.push_back(&entry.second->security);
        return out;
    }
    return out;
}

SimKeySecurity* SimRegistry::SecurityOfHandle(RegKey key) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    return Resolve(key, node, access) == kErrorSuccess ? &node->security : nullptr;
}

std::string SimRegistry::PathOfHandle(RegKey key) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    return Resolve(key, node, access) == kErrorSuccess ? FullPath(node.get()) : std::string();
}

uint32_t SimRegistry::UserCreateLinkKey(const std::string& path, const std::string& target, View view) {
    static const std::pair<const char*, const char*> kNative[] = {
        {"HKEY_LOCAL_MACHINE", "\\Registry\\Machine"},
        {"HKLM", "\\Registry\\Machine"},
        {"HKEY_USERS", "\\Registry\\User"},
        {"HKU", "\\Registry\\User"}};
    const size_t slash = target.find('\\');
    std::string native;
    for (const auto& [name, prefix] : kNative)
        if (SameName(target.substr(0, slash), name))
            native = prefix + (slash == std::string::npos ? std::string() : target.substr(slash));
    const size_t last = path.rfind('\\');
    if (native.empty() || last == std::string::npos) return kErrorInvalidParameter;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr parent = MakePath(path.substr(0, last), view);
    if (!parent) return kErrorInvalidParameter;
    const std::string name = path.substr(last + 1);
    if (parent->children.count(Wide(name)) != 0) return kErrorAlreadyExists;
    auto node = std::make_shared<SimKeyNode>();
    node->name = name;
    node->wideName = Wide(name);
    node->parent = parent.get();
    node->link = true;
    node->security.ownerSid = "S-1-5-21-1000";
    SetLinkTarget(*node, native);
    parent->children[node->wideName] = node;
    return kErrorSuccess;
}

void SimRegistry::SetLinkTarget(SimKeyNode& node, const std::string& native) {
    const std::u16string wide = AnsiToUtf16(native);
    SimRegValue& v = StoreValue(node, u"SymbolicLinkValue");
    v.type = kRegLink;
    v.data.resize(wide.size() * sizeof(char16_t));
    std::memcpy(v.data.data(), wide.data(), v.data.size());
}

int SimRegistry::OpenHandles() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

// --- the calls ---

void SimRegistry::CloseKey(RegKey key) {
    faults_.Take("RegCloseKey");
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    handles_.erase(key);
}

uint32_t SimRegistry::CreateKeyEx(RegKey parent, const std::string& subKey, uint32_t options, uint32_t access,
                                  RegKey& out, uint32_t* disposition) {
    if (uint32_t code = faults_.Take("RegCreateKeyExA")) return code;
    if (subKey.size() > kMaxAnsiKeyPath) return kErrorMoreData;
    return CreateKey(parent, Wide(subKey), options, access, out, disposition);
}

uint32_t SimRegistry::CreateKeyExW(RegKey parent, const std::u16string& subKey, uint32_t options,
                                   uint32_t access, RegKey& out, uint32_t* disposition) {
    if (uint32_t code = faults_.Take("RegCreateKeyExW")) return code;
    return CreateKey(parent, subKey, options, access, out, disposition);
}

uint32_t SimRegistry::CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                                uint32_t access, RegKey& out, uint32_t* disposition) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // Nothing can be created below the 9x dynamic-data root on NT.
    if (parent == kHkeyDynData) return kErrorInvalidHandle;
    NodePtr start;
    uint32_t parentAccess = 0;
    if (uint32_t rc = Resolve(parent, start, parentAccess)) return rc;
    NodePtr node;
    bool created = false;
    const bool makeLink = (options & kRegOptionCreateLink) != 0;
    if (uint32_t rc = Walk(start, subKey, (access & kKeyWow64_64Key) != 0, true, node, &created, false,
                           makeLink, 0, (options & kRegOptionVolatile) != 0))
        return rc;
    if (makeLink) {
        if (!created) return kErrorAlreadyExists;
        node->link = true;
    }
    uint32_t granted = MapAccess(access, node->security.deniedAccess);
    if (granted & node->security.deniedAccess) return kErrorAccessDenied;
    out = NewHandle(node, granted);
    if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    return kErrorSuccess;
}

uint32_t SimRegistry::OpenKeyEx(RegKey parent, const std::string& subKey, uint32_t access, RegKey& out) {
    if (uint32_t code = faults_.Take("RegOpenKeyExA")) return code;
    if (subKey.size() > kMaxAnsiKeyPath) return kErrorMoreData;
    return OpenKey(parent, Wide(subKey), access, out);
}

uint32_t SimRegistry::OpenKeyExW(RegKey parent, const std::u16string& subKey, uint32_t access, RegKey& out) {
    if (uint32_t code = faults_.Take("RegOpenKeyExW")) return code;
    return OpenKey(parent, subKey, access, out);
}

uint32_t SimRegistry::OpenKeyExOptions(RegKey parent, const std::string& subKey, uint32_t options,
                                       uint32_t access, RegKey& out) {
    if (uint32_t code = faults_.Take("RegOpenKeyExA")) return code;
    if (subKey.size() > kMaxAnsiKeyPath) return kErrorMoreData;
    return OpenKey(parent, Wide(subKey), access, out, (options & kRegOptionOpenLink) != 0);
}

uint32_t SimRegistry::DeleteOpenKey(RegKey key) {
    if (uint32_t code = faults_.Take("NtDeleteKey")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (RootNode(key)) return kErrorInvalidHandle;
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kDelete) || node->predefined || !node->children.empty()) return kErrorAccessDenied;
    Unlink(node);
    return kErrorSuccess;
}

uint32_t SimRegistry::OpenKey(RegKey parent, const std::u16string& subKey, uint32_t access, RegKey& out,
                              bool openLink) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr start;
    uint32_t parentAccess = 0;
    if (uint32_t rc = Resolve(parent, start, parentAccess)) return rc;
    // A predefined root opened with no subkey comes back as itself, not as a new handle.
    if (subKey.empty() && RootNode(parent)) {
        out = parent;
        return kErrorSuccess;
    }
    NodePtr node;
    if (uint32_t rc =
            Walk(start, subKey, (access & kKeyWow64_64Key) != 0, false, node, nullptr, false, openLink))
        return rc;
    uint32_t granted = MapAccess(access, node->security.deniedAccess);
    if (granted & node->security.deniedAccess) return kErrorAccessDenied;
    out = NewHandle(node, granted);
    return kErrorSuccess;
}

uint32_t SimRegistry::SetValueEx(RegKey key, const char* name, uint32_t type, const void* data,
                                 uint32_t size) {
    if (uint32_t code = faults_.Take("RegSetValueExA")) return code;
    if (data == nullptr && size != 0) return kErrorNoAccess;
    const auto* bytes = static_cast<const uint8_t*>(data);
    return StoreData(key, Wide(name != nullptr ? name : ""), type, std::vector<uint8_t>(bytes, bytes + size));
}

uint32_t SimRegistry::SetValueExW(RegKey key, const char16_t* name, uint32_t type, const void* data,
                                  uint32_t size) {
    if (uint32_t code = faults_.Take("RegSetValueExW")) return code;
    if (data == nullptr && size != 0) return kErrorNoAccess;
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> stored(bytes, bytes + size);
    std::vector<uint8_t> wideData;
    if (IsStringType(type)) {
        // Kept as an A caller reads it; characters outside the code page become '?', as
        // RegQueryValueExA would show them.
        std::u16string wide(size / sizeof(char16_t), u'\0');
        if (!wide.empty()) std::memcpy(&wide[0], bytes, wide.size() * sizeof(char16_t));
        std::string narrow = Utf16ToAnsi(wide);
        if (!FitsCodePage(wide)) wideData = stored;
        stored.assign(narrow.begin(), narrow.end());
    }
    const std::u16string wideName = name != nullptr ? std::u16string(name) : std::u16string();
    return StoreData(key, wideName, type, std::move(stored), std::move(wideData));
}

uint32_t SimRegistry::StoreData(RegKey key, const std::u16string& name, uint32_t type,
                                std::vector<uint8_t> data, std::vector<uint8_t> wideData) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeySetValue)) return kErrorAccessDenied;
    if (name.size() > kMaxValueNameLength) return kErrorInvalidParameter;
    // A link holds its target and nothing else.
    if (node->link && !(type == kRegLink && SameWide(name, u"SymbolicLinkValue"))) return kErrorAccessDenied;
    if (const SimRegValue* old = FindValue(*node, name); old != nullptr && (old->deniedAccess & kKeySetValue))
        return kErrorAccessDenied;
    SimRegValue& v = StoreValue(*node, name);
    v.type = type;
    v.data = std::move(data);
    v.wideData = std::move(wideData);
    return kErrorSuccess;
}

uint32_t SimRegistry::DeleteKey(RegKey parent, const std::string& subKey) {
    if (uint32_t code = faults_.Take("RegDeleteKeyA")) return code;
    return DeleteKeyIn(parent, subKey, false);
}

uint32_t SimRegistry::DeleteKeyEx(RegKey parent, const std::string& subKey, uint32_t view) {
    if (uint32_t code = faults_.Take("RegDeleteKeyExA")) return code;
    if (!hasDeleteKeyEx) return kErrorCallNotImplemented;
    return DeleteKeyIn(parent, subKey, (view & kKeyWow64_64Key) != 0);
}

uint32_t SimRegistry::DeleteKeyIn(RegKey parent, const std::string& subKey, bool view64) {
    if (subKey.size() > kMaxAnsiKeyPath) return kErrorMoreData;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr start;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(parent, start, access)) return rc;
    NodePtr node;
    if (uint32_t rc = Walk(start, Wide(subKey), view64, false, node, nullptr)) return rc;
    return DeleteNode(node);
}

uint32_t SimRegistry::QueryValueEx(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
    if (uint32_t code = faults_.Take("RegQueryValueExA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const SimRegValue* v = nullptr;
    if (uint32_t rc = FindQueried(key, Wide(name != nullptr ? name : ""), data, size, v)) return rc;
    if (type != nullptr) *type = v->type;
    return CopyOut(v->data, data, size);
}

uint32_t SimRegistry::QueryValueExW(RegKey key, const char16_t* name, uint32_t* type, void* data,
                                    uint32_t* size) {
    if (uint32_t code = faults_.Take("RegQueryValueExW")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const SimRegValue* v = nullptr;
    if (uint32_t rc =
            FindQueried(key, name != nullptr ? std::u16string(name) : std::u16string(), data, size, v))
        return rc;
    if (type != nullptr) *type = v->type;
    if (!IsStringType(v->type)) return CopyOut(v->data, data, size);
    if (!v->wideData.empty()) return CopyOut(v->wideData, data, size);
    std::vector<uint8_t> wide;
    if (!WidenStringData(v->data, wide)) return kErrorInvalidData;
    return CopyOut(wide, data, size);
}

uint32_t SimRegistry::FindQueried(RegKey key, const std::u16string& name, const void* data,
                                  const uint32_t* size, const SimRegValue*& out) {
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeyQueryValue)) return kErrorAccessDenied;
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    out = FindValue(*node, name);
    if (out == nullptr) return kErrorFileNotFound;
    if (out->deniedAccess & kKeyQueryValue) return kErrorAccessDenied;
    return kErrorSuccess;
}

uint32_t SimRegistry::EnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
    if (uint32_t code = faults_.Take("RegEnumKeyExA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeyEnumerateSubKeys)) return kErrorAccessDenied;
    if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
    if (index >= node->children.size()) return kErrorNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    return CopyName(Utf16ToAnsi(it->second->wideName), name, nameLength);
}

uint32_t SimRegistry::EnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                                void* data, uint32_t* dataSize) {
    if (uint32_t code = faults_.Take("RegEnumValueA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeyQueryValue)) return kErrorAccessDenied;
    if (name == nullptr || nameLength == nullptr || (data != nullptr && dataSize == nullptr))
        return kErrorInvalidParameter;
    if (index >= node->values.size()) return kErrorNoMoreItems;
    const SimRegValue& v = node->values[index];
    if (type != nullptr) *type = v.type;
    // The data is checked first: when it does not fit, the name is not written either.
    uint32_t needed = static_cast<uint32_t>(v.data.size());
    bool dataFits = data == nullptr || *dataSize >= needed;
    if (dataSize != nullptr) *dataSize = needed;
    if (!dataFits) return kErrorMoreData;
    if (uint32_t rc = CopyName(Utf16ToAnsi(v.wideName), name, nameLength)) return rc;
    if (data != nullptr && needed != 0) std::memcpy(data, v.data.data(), needed);
    return kErrorSuccess;
}

uint32_t SimRegistry::OpenKeyExOptionsW(RegKey parent, const std::u16string& subKey, uint32_t options,
                                        uint32_t access, RegKey& out) {
    if (uint32_t code = faults_.Take("RegOpenKeyExW")) return code;
    return OpenKey(parent, subKey, access, out, (options & kRegOptionOpenLink) != 0);
}

uint32_t SimRegistry::EnumKeyExW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength) {
    if (uint32_t code = faults_.Take("RegEnumKeyExW")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeyEnumerateSubKeys)) return kErrorAccessDenied;
    if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
    if (index >= node->children.size()) return kErrorNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    return CopyWideName(it->second->wideName, name, nameLength);
}

uint32_t SimRegistry::EnumValueW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                                 uint32_t* type, void* data, uint32_t* dataSize) {
    if (uint32_t code = faults_.Take("RegEnumValueW")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeyQueryValue)) return kErrorAccessDenied;
    if (name == nullptr || nameLength == nullptr || (data != nullptr && dataSize == nullptr))
        return kErrorInvalidParameter;
    if (index >= node->values.size()) return kErrorNoMoreItems;
    const SimRegValue& v = node->values[index];
    std::vector<uint8_t> bytes = v.data;
    if (IsStringType(v.type) && !v.wideData.empty())
        bytes = v.wideData;
    else if (IsStringType(v.type) && !WidenStringData(v.data, bytes))
        return kErrorInvalidData;
    if (type != nullptr) *type = v.type;
    const uint32_t needed = static_cast<uint32_t>(bytes.size());
    const bool dataFits = data == nullptr || *dataSize >= needed;
    if (dataSize != nullptr) *dataSize = needed;
    if (!dataFits) return kErrorMoreData;
    if (uint32_t rc = CopyWideName(v.wideName, name, nameLength)) return rc;
    if (data != nullptr && needed != 0) std::memcpy(data, bytes.data(), needed);
    return kErrorSuccess;
}

uint32_t SimRegistry::QueryInfoKey(RegKey key, uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* values,
                                   uint32_t* maxValueNameLength, uint32_t* maxValueLength) {
    if (uint32_t code = faults_.Take("RegQueryInfoKeyA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    uint32_t maxKey = 0, maxName = 0, maxData = 0;
    for (const auto& entry : node->children)
        maxKey = std::max(maxKey, static_cast<uint32_t>(Utf16ToAnsi(entry.second->wideName).size()));
    for (const auto& v : node->values) {
        maxName = std::max(maxName, static_cast<uint32_t>(Utf16ToAnsi(v.wideName).size()));
        // Strings are kept in UTF-16, and the largest data is reported as kept: a buffer
        // sized from it is always large enough for the ANSI form.
        uint32_t kept = static_cast<uint32_t>(v.data.size()) * (IsStringType(v.type) ? 2 : 1);
        maxData = std::max(maxData, kept);
    }
    if (subKeys != nullptr) *subKeys = static_cast<uint32_t>(node->children.size());
    if (maxSubKeyLength != nullptr) *maxSubKeyLength = maxKey;
    if (values != nullptr) *values = static_cast<uint32_t>(node->values.size());
    if (maxValueNameLength != nullptr) *maxValueNameLength = maxName;
    if (maxValueLength != nullptr) *maxValueLength = maxData;
    return kErrorSuccess;
}

uint32_t SimRegistry::DeleteValue(RegKey key, const char* name) {
    if (uint32_t code = faults_.Take("RegDeleteValueA")) return code;
    return DeleteValueIn(key, Wide(name != nullptr ? name : ""));
}

uint32_t SimRegistry::DeleteValueW(RegKey key, const char16_t* name) {
    if (uint32_t code = faults_.Take("RegDeleteValueW")) return code;
    return DeleteValueIn(key, name != nullptr ? std::u16string(name) : std::u16string());
}

uint32_t SimRegistry::DeleteValueIn(RegKey key, const std::u16string& name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    if (uint32_t rc = Resolve(key, node, access)) return rc;
    if (!(access & kKeySetValue)) return kErrorAccessDenied;
    return EraseValue(*node, name);
}

uint32_t SimRegistry::SHDeleteKey(RegKey parent, const std::string& subKey) {
    if (uint32_t code = faults_.Take("SHDeleteKeyA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    if (uint32_t rc = ResolveSub(parent, subKey, 0, node)) return rc;
    if (uint32_t rc = DeleteChildren(node)) return rc;
    // With no subkey named, the key of the handle is emptied and stays.
    if (subKey.empty()) return kErrorSuccess;
    return DeleteNode(node);
}

uint32_t SimRegistry::SHDeleteValue(RegKey parent, const std::string& subKey, const std::string& name) {
    if (uint32_t code = faults_.Take("SHDeleteValueA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    if (uint32_t rc = ResolveSub(parent, subKey, kKeySetValue, node)) return rc;
    return EraseValue(*node, Wide(name));
}

uint32_t SimRegistry::SHGetValue(RegKey parent, const std::string& subKey, const std::string& name,
                                 uint32_t* type, void* data, uint32_t* size) {
    if (uint32_t code = faults_.Take("SHGetValueA")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    if (uint32_t rc = ResolveSub(parent, subKey, kKeyQueryValue, node)) return rc;
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    const SimRegValue* v = FindValue(*node, Wide(name));
    if (v == nullptr) return kErrorFileNotFound;
    if (v->deniedAccess & kKeyQueryValue) return kErrorAccessDenied;
    if (v->type != kRegExpandSz) {
        if (type != nullptr) *type = v->type;
        return CopyOut(v->data, data, size);
    }
    std::string text(v->data.begin(), v->data.end());
    text = ExpandEnvironment(text.substr(0, text.find('\0')));
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    if (type != nullptr) *type = kRegSz;
    return CopyOut(bytes, data, size);
}

uint32_t SimRegistry::FlushKey(RegKey key) {
    if (uint32_t code = faults_.Take("RegFlushKey")) return code;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    NodePtr node;
    uint32_t access = 0;
    return Resolve(key, node, access);
}

}  // namespace platform::sim
