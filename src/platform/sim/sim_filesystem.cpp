#include "platform/sim/sim_filesystem.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "platform/ansi.h"
#include "platform/registry.h"

namespace platform::sim {

namespace {

constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorDirectory = 267;             // ERROR_DIRECTORY: the name is not a directory
constexpr uint32_t kErrorCantResolveFilename = 1921;  // a chain of links too long or circular
// Windows gives up on a name after this many links.
constexpr int kMaxLinkDepth = 31;

// The rights an open asks for that the object's access list does not grant as data access:
// whether they are granted is the security area's decision, made when they are used.
constexpr uint32_t kSecurityRights = kReadControl | kWriteDac | kWriteOwner | kFileReadAttributes;

// The attribute bits SetFileAttributes and CreateFile may set.
constexpr uint32_t kSettableAttributes =
    kFileAttributeReadonly | kFileAttributeHidden | kFileAttributeSystem | kFileAttributeArchive;

constexpr uint32_t kReadRights = kGenericRead | kGenericAll | 0x1;  // FILE_READ_DATA
constexpr uint32_t kWriteRights =
    kGenericWrite | kGenericAll | 0x2 | 0x4;  // FILE_WRITE_DATA, FILE_APPEND_DATA
constexpr uint32_t kDeleteRights = kDeleteAccess | kGenericAll;
constexpr uint32_t kExecuteRights = 0x20;  // FILE_EXECUTE, FILE_TRAVERSE on a directory
// Opens with none of these take no part in sharing: Windows neither checks nor records them.
constexpr uint32_t kSharedRights = kReadRights | kWriteRights | kDeleteRights | kExecuteRights;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorWriteProtect = 19;

std::string Fold(const std::string& s) {
    std::string r = s;
    if (!r.empty()) AnsiUpperInPlace(&r[0]);
    return r;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits "C:\a\b" into its drive letter and components; "." and ".." are resolved as
// Windows resolves them before the file system sees the name. False for a relative path.
bool ParsePath(const std::string& path, char& drive, std::vector<std::string>& parts) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return false;
    if (path.size() > 2 && !IsSeparator(path[2])) return false;
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    parts.clear();
    size_t i = 2;
    while (i < path.size()) {
        while (i < path.size() && IsSeparator(path[i])) ++i;
        size_t start = i;
        while (i < path.size() && !IsSeparator(path[i])) ++i;
        if (i == start) break;
        std::string part = path.substr(start, i - start);
        if (part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return true;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// FindFirstFile's matching of one name against the last component of a pattern: "*" any
// run of characters, "?" exactly one, case ignored; a trailing ".*" also matches a name
// without an extension, so "*.*" matches every name.
bool MatchName(const char* p, const char* n) {
    for (; *p; ++p) {
        if (p[0] == '.' && p[1] == '*' && p[2] == '\0' && *n == '\0') return true;
        if (*p == '*') {
            while (p[1] == '*') ++p;
            if (p[1] == '\0') return true;
            for (const char* s = n; *s; ++s)
                if (MatchName(p + 1, s)) return true;
            return MatchName(p + 1, "");
        }
        if (*n == '\0') return false;
        if (*p != '?' && *p != *n) return false;
        ++n;
    }
    return *n == '\0';
}

std::u16string Wide(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

}  // namespace

// One name in a folder and the object it leads to. A file with several names (hard links) is
// one object in several entries; each of those keeps its own name, which renaming the object
// by another of its names leaves as it is.
struct SimNameEntry : std::shared_ptr<SimFileSystem::Node> {
    SimNameEntry() = default;
    SimNameEntry(std::shared_ptr<SimFileSystem::Node> node) : shared_ptr(std::move(node)) {}
    std::string name;  // empty: the object's own name
};

struct SimFileSystem::Node {
    std::string name;
    bool directory = false;
    uint32_t attributes = 0;  // the settable bits
    std::string contents;
    SimFileSecurity security;
    std::map<std::string, SimNameEntry> children;  // by folded name
    std::string linkTarget;      // a junction (directory) or symbolic link (file) to this full path
    std::string shortName;       // the 8.3 name, when the volume made one
    bool deletePending = false;  // goes when its last handle closes; opens fail meanwhile
    // The file index: never the same for two objects, as a volume's file references are not.
    uint64_t index = NextIndex();

    static uint64_t NextIndex() {
        static std::atomic<uint64_t> last{0};
        return ++last;
    }

    bool IsLink() const { return !linkTarget.empty(); }
    uint32_t Reported() const {
        uint32_t link = IsLink() ? uint32_t{kFileAttributeReparsePoint} : 0u;
        if (directory) return attributes | kFileAttributeDirectory | link;
        return attributes == 0 && link == 0 ? kFileAttributeNormal : attributes | link;
    }
    bool Denies(uint32_t access) const {
        if (security.deniedAccess & kGenericAll) return access != 0;
        return (security.deniedAccess & access) != 0;
    }
};

namespace {

const std::string& NameOf(const SimNameEntry& entry) { return entry.name.empty() ? entry->name : entry.name; }

// The key of the entry in `dir` that leads to `node`; empty when none does.
std::string KeyIn(const SimFileSystem::Node& dir, const SimFileSystem::Node* node) {
    auto it = dir.children.find(Fold(node->name));
    if (it != dir.children.end() && it->second.get() == node) return it->first;
    for (const auto& [key, child] : dir.children)
        if (child.get() == node) return key;
    return std::string();
}

// The name by which `dir` holds `node`.
std::string NameIn(const SimFileSystem::Node& dir, const SimFileSystem::Node* node) {
    auto it = dir.children.find(KeyIn(dir, node));
    return it == dir.children.end() ? node->name : NameOf(it->second);
}

}  // namespace

struct SimFileSystem::Lookup {
    uint32_t error = 0;            // 3 when the parent is missing or the path is not valid
    std::shared_ptr<Node> parent;  // null for a drive root
    std::shared_ptr<Node> node;    // null when the last component does not exist
    std::string leaf;
    char drive = 0;
};

struct SimFileSystem::OpenFile {
    std::shared_ptr<Node> node;
    std::weak_ptr<Node> openedIn;  // the folder of the name it was opened by, when known
    uint32_t access = 0;
    uint32_t share = 0;
    uint64_t position = 0;
};

struct SimFileSystem::Listing {
    std::vector<FindDataA> entries;
    size_t next = 0;
};

SimFileSystem::SimFileSystem(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {
    AddDrive('C');
}

SimFileSystem::~SimFileSystem() = default;

bool SimFileSystem::Fail(const char* call) {
    uint32_t code = faults_.Take(call);
    if (code == 0) return false;
    system_.SetLastError(code);
    return true;
}

bool SimFileSystem::Refuse(uint32_t code) {
    if (code == 0) return true;
    system_.SetLastError(code);
    return false;
}

// A name in a folder is its long name or, as on a volume that makes them, its 8.3 name.
std::shared_ptr<SimFileSystem::Node> SimFileSystem::Child(const Node& dir, const std::string& name) {
    auto it = dir.children.find(Fold(name));
    if (it != dir.children.end()) return it->second;
    if (name.find('~') == std::string::npos) return nullptr;
    for (const auto& [folded, child] : dir.children)
        if (!child->shortName.empty() && Fold(child->shortName) == Fold(name)) return child;
    return nullptr;
}

SimFileSystem::Lookup SimFileSystem::Resolve(const std::string& path, bool followLast, int depth) const {
    Lookup r;
    std::vector<std::string> parts;
    if (!ParsePath(path, r.drive, parts)) {
        r.error = kErrorPathNotFound;
        return r;
    }
    auto drive = drives_.find(r.drive);
    if (drive == drives_.end()) {
        r.error = kErrorPathNotFound;
        return r;
    }
    if (parts.empty()) {
        r.node = drive->second;
        return r;
    }
    std::shared_ptr<Node> dir = drive->second;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        std::shared_ptr<Node> next = Child(*dir, parts[i]);
        if (next && next->IsLink()) {
            // A link inside a name is always passed through, as the object manager does.
            if (depth >= kMaxLinkDepth) {
                r.error = kErrorCantResolveFilename;
                return r;
            }
            Lookup target = Resolve(next->linkTarget, true, depth + 1);
            next = target.node;
        }
        if (!next || !next->directory) {
            r.error = kErrorPathNotFound;
            return r;
        }
        dir = next;
    }
    r.parent = dir;
    r.leaf = parts.back();
    r.node = Child(*dir, r.leaf);
    if (followLast && r.node && r.node->IsLink()) {
        if (depth >= kMaxLinkDepth) return Lookup{kErrorCantResolveFilename, nullptr, nullptr, {}, r.drive};
        return Resolve(r.node->linkTarget, true, depth + 1);
    }
    return r;
}

uint32_t SimFileSystem::ShareConflict(const Node* node, uint32_t access, uint32_t share) const {
    if ((access & kSharedRights) == 0) return 0;
    for (const auto& [h, f] : files_) {
        if (f->node.get() != node || (f->access & kSharedRights) == 0) continue;
        if ((access & (kReadRights | kExecuteRights)) && !(f->share & kFileShareRead))
            return kErrorSharingViolation;
        if ((access & kWriteRights) && !(f->share & kFileShareWrite)) return kErrorSharingViolation;
        if ((access & kDeleteRights) && !(f->share & kFileShareDelete)) return kErrorSharingViolation;
        if ((f->access & (kReadRights | kExecuteRights)) && !(share & kFileShareRead))
            return kErrorSharingViolation;
        if ((f->access & kWriteRights) && !(share & kFileShareWrite)) return kErrorSharingViolation;
        if ((f->access & kDeleteRights) && !(share & kFileShareDelete)) return kErrorSharingViolation;
    }
    return 0;
}

bool SimFileSystem::HasOpenHandles(const Node* node) const {
    for (const auto& [h, f] : files_)
        if (f->node.get() == node) return true;
    return false;
}

// --- test helpers ---

void SimFileSystem::AddDrive(char letter, uint32_t driveType, const std::string& fileSystem) {
    std::lock_guard<std::mutex> lock(mutex_);
    char d = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (d < 'A' || d > 'Z') return;
    driveTypes_[d] = driveType;  // a drive added again takes the new kind
    fileSystems_[d] = fileSystem;
    auto& root = drives_[d];
    if (!root) {
        root = std::make_shared<Node>();
        root->name = std::string(1, d) + ":";
        root->directory = true;
    }
}

std::shared_ptr<SimFileSystem::Node> SimFileSystem::MakeDirectories(const std::string& path) {
    char letter = 0;
    std::vector<std::string> parts;
    if (!ParsePath(path, letter, parts)) return nullptr;
    auto drive = drives_.find(letter);
    if (drive == drives_.end()) return nullptr;
    std::shared_ptr<Node> dir = drive->second;
    for (const auto& part : parts) {
        auto& child = dir->children[Fold(part)];
        if (!child) {
            child = std::make_shared<Node>();
            child->name = part;
            child->directory = true;
        } else if (!child->directory) {
            return nullptr;
        }
        dir = child;
    }
    return dir;
}

bool SimFileSystem::CreateFile(const std::string& path, const std::string& contents, uint32_t attributes) {
    std::lock_guard<std::mutex> lock(mutex_);
    char letter = 0;
    std::vector<std::string> parts;
    if (!ParsePath(path, letter, parts) || parts.empty()) return false;
    std::string leaf = parts.back();
    size_t cut = path.find_last_of("\\/");
    std::shared_ptr<Node> dir = MakeDirectories(path.substr(0, cut));
    if (!dir) return false;
    auto& node = dir->children[Fold(leaf)];
    if (node && node->directory) return false;
    if (!node) node = std::make_shared<Node>();
    node->name = leaf;
    node->contents = contents;
    node->attributes = attributes & kSettableAttributes;
    return true;
}

bool SimFileSystem::CreateDirectories(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return MakeDirectories(path) != nullptr;
}

bool SimFileSystem::Exists(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Resolve(path).node != nullptr;
}

std::string SimFileSystem::Contents(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    return l.node ? l.node->contents : std::string();
}

uint64_t SimFileSystem::Size(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    return l.node ? l.node->contents.size() : 0;
}

uint32_t SimFileSystem::Attributes(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    return l.node ? l.node->Reported() : kInvalidFileAttributes;
}

SimFileSecurity* SimFileSystem::SecurityOf(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path, true);
    return l.node ? &l.node->security : nullptr;
}

SimFileSecurity* SimFileSystem::SecurityOfHandle(FileHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    return it == files_.end() ? nullptr : &it->second->node->security;
}

namespace {
// The path from `dir` down to the node whose record is `target`, `dir` excluded.
bool FindChain(const std::shared_ptr<SimFileSystem::Node>& dir, const SimFileSecurity* target,
               std::vector<const SimFileSystem::Node*>& chain);
}  // namespace

std::vector<const SimFileSecurity*> SimFileSystem::AncestorsOf(const SimFileSecurity* security,
                                                               bool& isDirectory) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<const SimFileSecurity*> out;
    isDirectory = false;
    for (const auto& [letter, root] : drives_) {
        std::vector<const Node*> chain;
        if (&root->security == security) {
            isDirectory = true;
            return out;
        }
        if (!FindChain(root, security, chain)) continue;
        // `chain` runs from the object up to the root's child; the root itself comes last.
        isDirectory = chain.front()->directory;
        for (size_t i = 1; i < chain.size(); ++i) out.push_back(&chain[i]->security);
        out.push_back(&root->security);
        return out;
    }
    return out;
}

namespace {
// The node whose record is `target`, `dir` included; null when none below it has it.
SimFileSystem::Node* FindNode(SimFileSystem::Node* dir, const SimFileSecurity* target);
}  // namespace

std::vector<const SimFileSecurity*> SimFileSystem::FolderChainLocked(const Node* dir) const {
    std::vector<const SimFileSecurity*> out{&dir->security};
    for (const auto& [letter, root] : drives_) {
        if (root.get() == dir) return out;
        std::vector<const Node*> chain;
        if (!FindChain(root, &dir->security, chain)) continue;
        for (size_t i = 1; i < chain.size(); ++i) out.push_back(&chain[i]->security);
        out.push_back(&root->security);
        return out;
    }
    return out;
}

std::vector<SimFileChild> SimFileSystem::ChildrenOf(const SimFileSecurity* security) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SimFileChild> out;
    for (const auto& [letter, root] : drives_) {
        Node* node = FindNode(root.get(), security);
        if (node == nullptr) continue;
        if (node->directory && !node->IsLink())
            for (const auto& [key, child] : node->children)
                out.push_back(SimFileChild{&child->security, child->directory, child->IsLink()});
        return out;
    }
    return out;
}

bool SimFileSystem::CreateLink(const std::string& path, const std::string& target, bool directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    char letter = 0;
    std::vector<std::string> parts;
    if (target.empty() || !ParsePath(path, letter, parts) || parts.empty()) return false;
    std::shared_ptr<Node> dir = MakeDirectories(path.substr(0, path.find_last_of("\\/")));
    if (!dir) return false;
    auto& node = dir->children[Fold(parts.back())];
    if (node) return false;
    node = std::make_shared<Node>();
    node->name = parts.back();
    node->directory = directory;
    node->attributes = directory ? 0u : uint32_t{kFileAttributeArchive};
    node->linkTarget = target;
    return true;
}

bool SimFileSystem::SetShortName(const std::string& path, const std::string& shortName) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    if (!l.node || !l.parent) return false;
    l.node->shortName = shortName;
    return true;
}

std::vector<std::string> SimFileSystem::List(const std::string& directory) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    Lookup l = Resolve(directory);
    if (l.node && l.node->directory)
        for (const auto& [key, child] : l.node->children) names.push_back(NameOf(child));
    return names;
}

std::vector<SimPendingOperation> SimFileSystem::PendingOperations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}

bool SimFileSystem::GetPendingDeletions(std::vector<std::string>& paths) {
    if (Fail("RegQueryValueExW")) return false;
    paths = PendingDeletes();
    return true;
}

std::vector<std::string> SimFileSystem::PendingDeletes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& op : pending_)
        if (op.to.empty()) paths.push_back(op.from);
    return paths;
}

int SimFileSystem::OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(files_.size());
}

int SimFileSystem::OpenFindHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(listings_.size());
}

void SimFileSystem::SimulateRestart() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<Node>> pendingDeletes;
    for (const auto& [h, f] : files_)
        if (f->node->deletePending) pendingDeletes.push_back(f->node);
    files_.clear();
    listings_.clear();
    for (const auto& node : pendingDeletes) FinishDeleteLocked(node);
    std::vector<SimPendingOperation> queue;
    queue.swap(pending_);
    for (const auto& op : queue) {
        Lookup src = Resolve(op.from);
        if (!src.node || !src.parent) continue;
        if (op.to.empty()) {
            if ((src.node->attributes & kFileAttributeReadonly) != 0 ||
                (src.node->directory && !src.node->children.empty()))
                continue;
            src.parent->children.erase(Fold(src.leaf));
            continue;
        }
        Lookup dst = Resolve(op.to);
        if (dst.error || !dst.parent || dst.drive != src.drive) continue;
        if (dst.node && dst.node != src.node) {
            if (!(op.flags & kMovefileReplaceExisting) || dst.node->directory) continue;
            dst.parent->children.erase(Fold(dst.leaf));
        }
        std::shared_ptr<Node> moving = src.node;
        src.parent->children.erase(Fold(src.leaf));
        moving->name = dst.leaf;
        dst.parent->children[Fold(dst.leaf)] = moving;
    }
}

// --- IFileSystem ---

void SimFileSystem::CloseHandle(FileHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return;
    std::shared_ptr<Node> node = it->second->node;
    files_.erase(it);
    if (node->deletePending && !HasOpenHandles(node.get())) FinishDeleteLocked(node);
}

FileHandle SimFileSystem::AddHandle(const std::shared_ptr<Node>& node, uint32_t access, uint32_t share) {
    auto file = std::make_unique<OpenFile>();
    file->node = node;
    file->access = access;
    file->share = share;
    FileHandle handle = nextHandle_;
    nextHandle_ += 4;
    files_[handle] = std::move(file);
    return handle;
}

bool SimFileSystem::OpenFileLocked(const std::string& path, uint32_t access, uint32_t share, const char* sddl,
                                   uint32_t disposition, uint32_t flags, FileHandle& out) {
    if (disposition < kCreateNew || disposition > kTruncateExisting) return Refuse(kErrorInvalidParameter);
    const bool openLink = (flags & kFileFlagOpenReparsePoint) != 0;
    Lookup l = Resolve(path, !openLink);
    if (l.error) return Refuse(l.error);
    if (!l.parent) return Refuse(kErrorAccessDenied);  // a drive root
    bool existed = l.node != nullptr;
    if (existed && l.node->deletePending) return Refuse(kErrorAccessDenied);
    if (existed) {
        Node& n = *l.node;
        if (n.directory) {
            // A directory opens only as a whole, for what a handle can do with one.
            if (!(flags & kFileFlagBackupSemantics) || disposition != kOpenExisting ||
                (access & (kReadRights | kWriteRights)) != 0)
                return Refuse(kErrorAccessDenied);
            if (n.Denies(access & ~kSecurityRights)) return Refuse(kErrorAccessDenied);
            out = AddHandle(l.node, access, share);
            system_.SetLastError(0);
            return true;
        }
        if (disposition == kCreateNew) return Refuse(kErrorFileExists);
        bool truncates = disposition == kCreateAlways || disposition == kTruncateExisting;
        if ((n.attributes & kFileAttributeReadonly) && ((access & kWriteRights) || truncates))
            return Refuse(kErrorAccessDenied);
        if (n.Denies(access & ~kSecurityRights)) return Refuse(kErrorAccessDenied);
        if (uint32_t code = ShareConflict(&n, access, share)) return Refuse(code);
        if (truncates) n.contents.clear();
        if (disposition == kCreateAlways)
            n.attributes = (flags & kSettableAttributes) | kFileAttributeArchive;
    } else {
        if (disposition == kOpenExisting || disposition == kTruncateExisting)
            return Refuse(kErrorFileNotFound);
        auto node = std::make_shared<Node>();
        node->name = l.leaf;
        node->attributes = (flags & kSettableAttributes) | kFileAttributeArchive;
        if (sddl) node->security.sddl = sddl;
        l.parent->children[Fold(l.leaf)] = node;
        l.node = node;
    }
    out = AddHandle(l.node, access, share);
    bool reports = existed && (disposition == kOpenAlways || disposition == kCreateAlways);
    system_.SetLastError(reports ? static_cast<uint32_t>(kErrorAlreadyExists) : 0u);
    return true;
}

bool SimFileSystem::CreateFileW(const std::u16string& path, uint32_t access, uint32_t shareMode,
                                const char* sddl, uint32_t disposition, uint32_t flagsAndAttributes,
                                FileHandle& out) {
    // Only an open that may make or empty a file changes the machine.
    const bool changes = disposition != kOpenExisting;
    if (uint32_t code = changes ? faults_.TakeChange("CreateFileW") : faults_.Take("CreateFileW")) {
        system_.SetLastError(code);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return OpenFileLocked(Utf16ToAnsi(path), access, shareMode, sddl, disposition, flagsAndAttributes, out);
}

bool SimFileSystem::ReadFile(FileHandle handle, void* buffer, uint32_t toRead, uint32_t& read) {
    if (Fail("ReadFile")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    OpenFile& f = *it->second;
    if (f.node->directory) return Refuse(kErrorInvalidFunction);
    if (!(f.access & kReadRights)) return Refuse(kErrorAccessDenied);
    const std::string& data = f.node->contents;
    uint64_t available = f.position < data.size() ? data.size() - f.position : 0;
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(available, toRead));
    if (n > 0) std::memcpy(buffer, data.data() + f.position, n);
    f.position += n;
    read = n;
    return true;
}

bool SimFileSystem::WriteFile(FileHandle handle, const void* data, uint32_t toWrite, uint32_t& written) {
    if (Fail("WriteFile")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    OpenFile& f = *it->second;
    if (f.node->directory) return Refuse(kErrorInvalidFunction);  // a directory holds no data
    if (!(f.access & kWriteRights)) return Refuse(kErrorAccessDenied);
    std::string& contents = f.node->contents;
    if (contents.size() < f.position + toWrite) contents.resize(f.position + toWrite, '\0');
    if (toWrite > 0) std::memcpy(&contents[f.position], data, toWrite);
    f.position += toWrite;
    written = toWrite;
    return true;
}

bool SimFileSystem::SetFilePointerEx(FileHandle handle, int64_t distance, uint32_t origin,
                                     uint64_t& newPosition) {
    if (Fail("SetFilePointerEx")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    OpenFile& f = *it->second;
    int64_t base = 0;
    if (origin == kFileCurrent)
        base = static_cast<int64_t>(f.position);
    else if (origin == kFileEnd)
        base = static_cast<int64_t>(f.node->contents.size());
    else if (origin != kFileBegin)
        return Refuse(kErrorInvalidParameter);
    int64_t target = base + distance;
    if (target < 0) return Refuse(kErrorNegativeSeek);
    f.position = static_cast<uint64_t>(target);
    newPosition = f.position;
    return true;
}

bool SimFileSystem::GetFileSizeEx(FileHandle handle, uint64_t& size) {
    if (Fail("GetFileSizeEx")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    size = it->second->node->contents.size();
    return true;
}

bool SimFileSystem::GetFileLinkCount(FileHandle handle, uint32_t& links) {
    if (Fail("GetFileInformationByHandle")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    links = 0;
    std::vector<std::shared_ptr<Node>> stack;
    for (const auto& [letter, root] : drives_) stack.push_back(root);
    while (!stack.empty()) {
        std::shared_ptr<Node> dir = stack.back();
        stack.pop_back();
        for (const auto& [key, child] : dir->children) {
            if (child == it->second->node) ++links;
            if (child->directory && !child->IsLink()) stack.push_back(child);
        }
    }
    return true;
}

bool SimFileSystem::GetFileInformationByHandle(FileHandle handle, uint32_t& attributes) {
    if (Fail("GetFileInformationByHandle")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    attributes = it->second->node->Reported();
    return true;
}

bool SimFileSystem::GetFileIdentity(FileHandle handle, std::string& identity) {
    if (Fail("GetFileInformationByHandle")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    char text[32];
    std::snprintf(text, sizeof(text), "0000C0DE-%016llX",
                  static_cast<unsigned long long>(it->second->node->index));
    identity = text;
    return true;
}

uint32_t SimFileSystem::GetFileAttributesA(const std::string& path) {
    if (Fail("GetFileAttributesA")) return kInvalidFileAttributes;
    if (path.size() >= kMaxPath) {
        system_.SetLastError(kErrorFilenameExcedRange);
        return kInvalidFileAttributes;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    if (l.node) return l.node->Reported();
    system_.SetLastError(l.error ? l.error : kErrorFileNotFound);
    return kInvalidFileAttributes;
}

uint32_t SimFileSystem::GetFileAttributesW(const std::u16string& path) {
    if (Fail("GetFileAttributesW")) return kInvalidFileAttributes;
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Utf16ToAnsi(path));
    if (l.node) return l.node->Reported();
    system_.SetLastError(l.error ? l.error : kErrorFileNotFound);
    return kInvalidFileAttributes;
}

bool SimFileSystem::SetFileAttributesA(const std::string& path, uint32_t attributes) {
    if (Fail("SetFileAttributesA")) return false;
    if (path.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    if (l.error) return Refuse(l.error);
    if (!l.node) return Refuse(kErrorFileNotFound);
    if (l.node->Denies(kGenericWrite)) return Refuse(kErrorAccessDenied);
    l.node->attributes = attributes & kSettableAttributes;
    return true;
}

uint32_t SimFileSystem::DeleteLocked(const std::string& path) {
    Lookup l = Resolve(path);
    if (l.error) return l.error;
    if (!l.node) return kErrorFileNotFound;
    Node& n = *l.node;
    if (n.directory || !l.parent) return kErrorAccessDenied;
    if (n.attributes & kFileAttributeReadonly) return kErrorAccessDenied;
    if (n.Denies(kDeleteAccess)) return kErrorAccessDenied;
    if (uint32_t code = ShareConflict(&n, kDeleteAccess, kFileShareRead | kFileShareWrite | kFileShareDelete))
        return code;
    // Handles opened with FILE_SHARE_DELETE keep the detached file; the name is free at once.
    l.parent->children.erase(Fold(l.leaf));
    return 0;
}

bool SimFileSystem::DeleteFileA(const std::string& path) {
    if (Fail("DeleteFileA")) return false;
    if (path.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(DeleteLocked(path));
}

bool SimFileSystem::DeleteFileW(const std::u16string& path) {
    if (Fail("DeleteFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(DeleteLocked(Utf16ToAnsi(path)));
}

uint32_t SimFileSystem::MoveLocked(const std::string& from, const std::string* to, uint32_t flags) {
    Lookup src = Resolve(from);
    if (flags & kMovefileDelayUntilReboot) {
        // Queuing does not open the source: a missing file or one held open without
        // FILE_SHARE_DELETE is queued all the same. An access list that denies DELETE
        // is what Windows does check.
        if (src.node && src.node->Denies(kDeleteAccess)) return kErrorAccessDenied;
        pending_.push_back(SimPendingOperation{from, to ? *to : std::string(), flags});
        return 0;
    }
    if (src.error) return src.error;
    if (!src.node) return kErrorFileNotFound;
    if (!src.parent) return kErrorAccessDenied;
    Node& n = *src.node;
    if (!to) {
        // No target and no restart: the source is deleted at once.
        if (!n.directory) return DeleteLocked(from);
        if (!n.children.empty()) return kErrorDirNotEmpty;
        if ((n.attributes & kFileAttributeReadonly) || n.Denies(kDeleteAccess)) return kErrorAccessDenied;
        src.parent->children.erase(Fold(src.leaf));
        return 0;
    }
    if (n.Denies(kDeleteAccess)) return kErrorAccessDenied;
    if (uint32_t code = ShareConflict(&n, kDeleteAccess, kFileShareRead | kFileShareWrite | kFileShareDelete))
        return code;
    Lookup dst = Resolve(*to);
    if (dst.error) return dst.error;
    if (!dst.parent) return kErrorAccessDenied;
    if (dst.drive != src.drive) return kErrorNotSameDevice;
    if (n.directory) {
        // A directory cannot move below itself.
        char letter = 0;
        std::vector<std::string> parts;
        ParsePath(*to, letter, parts);
        std::shared_ptr<Node> walk = drives_.at(letter);
        for (size_t i = 0; i + 1 < parts.size() && walk; ++i) {
            auto it = walk->children.find(Fold(parts[i]));
            walk = it == walk->children.end() ? nullptr : std::shared_ptr<Node>(it->second);
            if (walk == src.node) return kErrorAccessDenied;
        }
    }
    if (dst.node && dst.node != src.node) {
        if (!(flags & kMovefileReplaceExisting)) return kErrorAlreadyExists;
        Node& t = *dst.node;
        if (n.directory || t.directory) return kErrorAccessDenied;
        if ((t.attributes & kFileAttributeReadonly) || t.Denies(kDeleteAccess) || HasOpenHandles(&t))
            return kErrorAccessDenied;
        dst.parent->children.erase(Fold(dst.leaf));
    }
    std::shared_ptr<Node> moving = src.node;
    src.parent->children.erase(Fold(src.leaf));
    moving->name = dst.leaf;
    dst.parent->children[Fold(dst.leaf)] = moving;
    return 0;
}

bool SimFileSystem::MoveFileExA(const std::string& from, const char* to, uint32_t flags) {
    if (Fail("MoveFileExA")) return false;
    if (from.size() >= kMaxPath || (to && std::strlen(to) >= kMaxPath))
        return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    std::string target = to ? to : "";
    return Refuse(MoveLocked(from, to ? &target : nullptr, flags));
}

bool SimFileSystem::MoveFileExW(const std::u16string& from, const char16_t* to, uint32_t flags) {
    if (Fail("MoveFileExW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string target = to ? Utf16ToAnsi(to) : "";
    return Refuse(MoveLocked(Utf16ToAnsi(from), to ? &target : nullptr, flags));
}

uint32_t SimFileSystem::CreateDirectoryLocked(const std::string& path, const char* sddl) {
    Lookup l = Resolve(path);
    if (l.error) return l.error;
    if (l.node) return kErrorAlreadyExists;
    auto node = std::make_shared<Node>();
    node->name = l.leaf;
    node->directory = true;
    if (sddl) node->security.sddl = sddl;
    l.parent->children[Fold(l.leaf)] = node;
    return 0;
}

bool SimFileSystem::CreateDirectoryA(const std::string& path, const char* sddl) {
    if (Fail("CreateDirectoryA")) return false;
    if (path.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(CreateDirectoryLocked(path, sddl));
}

bool SimFileSystem::CreateDirectoryW(const std::u16string& path, const char* sddl) {
    if (Fail("CreateDirectoryW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(CreateDirectoryLocked(Utf16ToAnsi(path), sddl));
}

bool SimFileSystem::RemoveDirectoryA(const std::string& path) {
    if (Fail("RemoveDirectoryA")) return false;
    if (path.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    if (l.error) return Refuse(l.error);
    if (!l.node) return Refuse(kErrorFileNotFound);
    if (!l.node->directory) return Refuse(kErrorDirectory);
    if (!l.parent) return Refuse(kErrorAccessDenied);
    if (!l.node->children.empty()) return Refuse(kErrorDirNotEmpty);
    if ((l.node->attributes & kFileAttributeReadonly) || l.node->Denies(kDeleteAccess))
        return Refuse(kErrorAccessDenied);
    l.parent->children.erase(Fold(l.leaf));
    return true;
}

uint32_t SimFileSystem::FindFirstLocked(const std::string& pattern, FindDataA& data, FindHandle& out) {
    if (pattern.empty() || IsSeparator(pattern.back())) return kErrorFileNotFound;
    Lookup l = Resolve(pattern);
    if (l.error) return l.error;
    if (!l.parent) return kErrorFileNotFound;  // a drive root has no entry of its own
    auto listing = std::make_unique<Listing>();
    if (HasWildcard(l.leaf)) {
        if (l.parent->Denies(kGenericRead)) return kErrorAccessDenied;
        std::string want = Fold(l.leaf);
        // A name is found when its long name or its short name matches.
        auto add = [&](const std::string& name, uint32_t attributes, uint64_t size,
                       const std::string& shortName = std::string()) {
            if (MatchName(want.c_str(), Fold(name).c_str()) ||
                (!shortName.empty() && MatchName(want.c_str(), Fold(shortName).c_str())))
                listing->entries.push_back(FindDataA{attributes, size, name});
        };
        // Only a directory below a drive root lists "." and "..".
        bool isRoot = false;
        for (const auto& [letter, root] : drives_)
            if (root == l.parent) isRoot = true;
        if (!isRoot) {
            add(".", l.parent->Reported(), 0);
            add("..", kFileAttributeDirectory, 0);
        }
        for (const auto& [key, child] : l.parent->children)
            add(NameOf(child), child->Reported(), child->directory ? 0 : child->contents.size(),
                child->shortName);
    } else if (l.node) {
        const Node& n = *l.node;
        listing->entries.push_back(
            FindDataA{n.Reported(), n.directory ? 0 : n.contents.size(), NameIn(*l.parent, &n)});
    }
    if (listing->entries.empty()) return kErrorFileNotFound;
    data = listing->entries[0];
    listing->next = 1;
    out = nextHandle_;
    nextHandle_ += 4;
    listings_[out] = std::move(listing);
    return 0;
}

bool SimFileSystem::FindFirstFileA(const std::string& pattern, FindDataA& data, FindHandle& out) {
    if (Fail("FindFirstFileA")) return false;
    if (pattern.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(FindFirstLocked(pattern, data, out));
}

bool SimFileSystem::FindNextFileA(FindHandle handle, FindDataA& data) {
    if (Fail("FindNextFileA")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = listings_.find(handle);
    if (it == listings_.end()) return Refuse(kErrorInvalidHandle);
    Listing& l = *it->second;
    if (l.next >= l.entries.size()) return Refuse(kErrorNoMoreFiles);
    data = l.entries[l.next++];
    return true;
}

bool SimFileSystem::FindFirstFileW(const std::u16string& pattern, FindDataW& data, FindHandle& out) {
    if (Fail("FindFirstFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    FindDataA narrow;
    if (!Refuse(FindFirstLocked(Utf16ToAnsi(pattern), narrow, out))) return false;
    data = FindDataW{narrow.attributes, narrow.size, Wide(narrow.name)};
    return true;
}

bool SimFileSystem::FindNextFileW(FindHandle handle, FindDataW& data) {
    if (Fail("FindNextFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = listings_.find(handle);
    if (it == listings_.end()) return Refuse(kErrorInvalidHandle);
    Listing& l = *it->second;
    if (l.next >= l.entries.size()) return Refuse(kErrorNoMoreFiles);
    const FindDataA& narrow = l.entries[l.next++];
    data = FindDataW{narrow.attributes, narrow.size, Wide(narrow.name)};
    return true;
}

void SimFileSystem::FindClose(FindHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    listings_.erase(handle);
}

int SimFileSystem::Access(const std::string& path, int mode) {
    if (faults_.Take("_access")) return -1;
    if (path.size() >= kMaxPath) return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    if (!l.node) return -1;
    // The C runtime looks at the read-only attribute only; access lists play no part.
    if ((mode & kAccessWrite) && !l.node->directory && (l.node->attributes & kFileAttributeReadonly))
        return -1;
    return 0;
}

uint32_t SimFileSystem::ReadWholeFile(const std::string& path, std::string& bytes) {
    if (uint32_t code = faults_.Take("CreateFileA")) return code;
    if (path.size() >= kMaxPath) return kErrorFilenameExcedRange;
    std::lock_guard<std::mutex> lock(mutex_);
    FileHandle h = 0;
    if (!OpenFileLocked(path, kGenericRead, kFileShareRead | kFileShareWrite | kFileShareDelete, nullptr,
                        kOpenExisting, 0, h))
        return system_.GetLastError();
    std::string contents = files_[h]->node->contents;
    files_.erase(h);
    bytes = std::move(contents);
    return 0;
}

}  // namespace platform::sim

namespace platform::sim {

bool SimFileSystem::Remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path);
    if (!l.node || !l.parent || (l.node->directory && !l.node->children.empty())) return false;
    l.parent->children.erase(Fold(l.leaf));
    return true;
}

std::string SimFileSystem::TempDirectory() const {
    // Reading the environment must not leave its "not found" as the thread's last error.
    LastErrorGuard<SimSystem> keep(system_);
    std::u16string value;
    std::string dir = tempDirectory;
    if ((system_.GetEnvironmentVariable(u"TMP", value) || system_.GetEnvironmentVariable(u"TEMP", value)) &&
        !value.empty())
        dir = Utf16ToAnsi(value);
    while (dir.size() > 3 && IsSeparator(dir.back())) dir.pop_back();
    return dir;
}

uint32_t SimFileSystem::GetTempPathW(uint32_t bufferChars, std::u16string& out) {
    if (Fail("GetTempPathW")) return 0;
    std::string dir = TempDirectory();
    if (dir.empty() || !IsSeparator(dir.back())) dir += '\\';
    std::u16string path = Wide(dir);
    const uint32_t length = static_cast<uint32_t>(path.size());
    if (bufferChars <= length) return length + 1;  // the size needed, terminator included
    out = path;
    return length;
}

uint32_t SimFileSystem::CopyLocked(const std::string& from, const std::string& to, bool failIfExists) {
    Lookup src = Resolve(from);
    if (src.error) return src.error;
    if (!src.node) return kErrorFileNotFound;
    if (src.node->directory || !src.parent || src.node->Denies(kGenericRead)) return kErrorAccessDenied;
    if (uint32_t code = ShareConflict(src.node.get(), kGenericRead, kFileShareRead)) return code;
    Lookup dst = Resolve(to);
    if (dst.error) return dst.error;
    if (!dst.parent) return kErrorAccessDenied;
    if (dst.node) {
        if (failIfExists) return kErrorFileExists;
        // A copy onto itself finds its own source open.
        if (dst.node == src.node) return kErrorSharingViolation;
        const Node& t = *dst.node;
        if (t.directory || (t.attributes & kFileAttributeReadonly) || t.Denies(kGenericWrite))
            return kErrorAccessDenied;
        if (uint32_t code = ShareConflict(&t, kGenericWrite, 0)) return code;
    } else {
        dst.node = std::make_shared<Node>();
        dst.node->name = dst.leaf;
        dst.parent->children[Fold(dst.leaf)] = dst.node;
    }
    dst.node->contents = src.node->contents;
    dst.node->attributes = src.node->attributes | kFileAttributeArchive;
    return 0;
}

bool SimFileSystem::CopyFileW(const std::u16string& from, const std::u16string& to, bool failIfExists) {
    if (Fail("CopyFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(CopyLocked(Utf16ToAnsi(from), Utf16ToAnsi(to), failIfExists));
}

}  // namespace platform::sim

namespace platform::sim {
namespace {

bool FindChain(const std::shared_ptr<SimFileSystem::Node>& dir, const SimFileSecurity* target,
               std::vector<const SimFileSystem::Node*>& chain) {
    for (const auto& [key, child] : dir->children) {
        if (&child->security == target || (child->directory && FindChain(child, target, chain))) {
            chain.push_back(child.get());
            return true;
        }
    }
    return false;
}

SimFileSystem::Node* FindNode(SimFileSystem::Node* dir, const SimFileSecurity* target) {
    if (&dir->security == target) return dir;
    for (const auto& [key, child] : dir->children) {
        SimFileSystem::Node* found = child->directory ? FindNode(child.get(), target) : nullptr;
        if (found == nullptr && &child->security == target) found = child.get();
        if (found != nullptr) return found;
    }
    return nullptr;
}

}  // namespace
uint32_t SimFileSystem::GetLogicalDriveStrings(uint32_t bufferChars, std::string& out) {
    if (Fail("GetLogicalDriveStringsA")) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& entry : drives_) {
        all += entry.first;
        all += ":\\";
        all += '\0';
    }
    // The list ends with one more NUL, which the length needed counts and the length
    // written does not.
    const size_t needed = all.size() + 1;
    if (needed > bufferChars) return static_cast<uint32_t>(needed);
    out = all;
    return static_cast<uint32_t>(all.size());
}

uint32_t SimFileSystem::GetDriveType(const std::string& root) {
    if (Fail("GetDriveTypeA")) return kDriveUnknown;
    // Only a drive's root, with its trailing separator, names a volume here.
    bool isRoot = root.size() == 3 && root[1] == ':' && IsSeparator(root[2]);
    if (!isRoot) return kDriveNoRootDir;
    char d = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = driveTypes_.find(d);
    if (it == driveTypes_.end() || drives_.count(d) == 0) return kDriveNoRootDir;
    return it->second;
}

uint32_t SimFileSystem::GetVolumeFileSystem(FileHandle file, std::string& name) {
    if (uint32_t code = faults_.Take("GetVolumeInformationByHandleW")) return code;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(file);
    if (it == files_.end()) return kErrorInvalidHandle;
    std::shared_ptr<Node> parent;
    char drive = 0;
    if (!LocateOpened(*it->second, parent, drive)) return kErrorFileNotFound;  // deleted meanwhile
    name = fileSystems_[drive];
    return 0;
}

}  // namespace platform::sim

// --- changes through held handles ---

namespace platform::sim {
namespace {

// The access-list refusals an open meets, as the rights classes the record keeps.
bool DeniesOpen(const SimFileSystem::Node& n, uint32_t access);

// "O:BA" or "O:S-1-..." at the start of an SDDL text: the owner it names ("" for none), and
// the rest of the text in `rest`.
std::string SplitSddlOwner(const std::string& sddl, std::string& rest) {
    rest = sddl;
    if (sddl.compare(0, 2, "O:") != 0) return std::string();
    size_t end = 2;
    while (end < sddl.size() && !(sddl[end + 1] == ':' && std::strchr("GDS", sddl[end]) != nullptr)) ++end;
    std::string owner = sddl.substr(2, end - 2);
    rest = sddl.substr(end);
    if (owner == "BA") return kAdministratorsSid;
    if (owner == "SY") return "S-1-5-18";
    return owner;
}

bool IsComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

}  // namespace

bool SimFileSystem::Locate(const Node* node, std::shared_ptr<Node>& parent, char& drive) const {
    std::vector<std::pair<std::shared_ptr<Node>, char>> stack;
    for (const auto& [letter, root] : drives_) {
        if (root.get() == node) {
            parent = nullptr;
            drive = letter;
            return true;
        }
        stack.emplace_back(root, letter);
    }
    while (!stack.empty()) {
        auto [dir, letter] = stack.back();
        stack.pop_back();
        for (const auto& [key, child] : dir->children) {
            if (child.get() == node) {
                parent = dir;
                drive = letter;
                return true;
            }
            if (child->directory && !child->IsLink()) stack.emplace_back(child, letter);
        }
    }
    return false;
}

bool SimFileSystem::LocateOpened(const OpenFile& f, std::shared_ptr<Node>& parent, char& drive) const {
    std::shared_ptr<Node> in = f.openedIn.lock();
    if (in) {
        auto it = in->children.find(KeyIn(*in, f.node.get()));
        if (it != in->children.end() && it->second == f.node) {
            std::shared_ptr<Node> above;
            if (!Locate(in.get(), above, drive)) return false;
            parent = in;
            return true;
        }
    }
    return Locate(f.node.get(), parent, drive);
}

void SimFileSystem::FinishDeleteLocked(const std::shared_ptr<Node>& node) {
    std::shared_ptr<Node> parent;
    char drive = 0;
    auto known = pendingFolder_.find(node.get());
    if (known != pendingFolder_.end()) {
        parent = known->second.lock();
        pendingFolder_.erase(known);
    } else if (!Locate(node.get(), parent, drive)) {
        parent = nullptr;
    }
    if (parent) parent->children.erase(KeyIn(*parent, node.get()));
    node->deletePending = false;
}

uint32_t SimFileSystem::OpenRelative(FileHandle parent, const std::u16string& wideName, uint32_t access,
                                     uint32_t shareMode, uint32_t disposition, uint32_t kind,
                                     const char* sddl, FileHandle& out) {
    if (uint32_t code =
            disposition != kOpenExisting ? faults_.TakeChange("NtCreateFile") : faults_.Take("NtCreateFile"))
        return code;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string name = Utf16ToAnsi(wideName);
    if (disposition < kCreateNew || disposition > kTruncateExisting || kind > kOpenFileOnly)
        return kErrorInvalidParameter;
    if (parent == 0) {
        bool root = name.size() == 3 && name[1] == ':' && IsSeparator(name[2]) &&
                    std::isalpha(static_cast<unsigned char>(name[0]));
        if (!root) return kErrorInvalidName;
        auto drive = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))));
        if (drive == drives_.end()) return kErrorPathNotFound;
        if (kind == kOpenFileOnly || (disposition != kOpenExisting && disposition != kOpenAlways))
            return kErrorAccessDenied;
        out = AddHandle(drive->second, access, shareMode);
        return 0;
    }
    if (!IsComponent(name)) return kErrorInvalidName;
    auto held = files_.find(parent);
    if (held == files_.end()) return kErrorInvalidHandle;
    std::shared_ptr<Node> dir = held->second->node;
    if (!dir->directory) return kErrorDirectory;
    if (dir->deletePending) return kErrorAccessDenied;
    auto found = dir->children.find(Fold(name));
    std::shared_ptr<Node> node =
        found == dir->children.end() ? nullptr : std::shared_ptr<Node>(found->second);
    const bool truncates = disposition == kCreateAlways || disposition == kTruncateExisting;
    if (node) {
        if (node->deletePending) return kErrorAccessDenied;
        if (disposition == kCreateNew) return kErrorAlreadyExists;
        if (kind == kOpenDirectoryOnly && !node->directory) return kErrorDirectory;
        if (kind == kOpenFileOnly && node->directory) return kErrorAccessDenied;
        if (node->directory && truncates) return kErrorAccessDenied;
        if (DeniesOpen(*node, access)) return kErrorAccessDenied;
        if (!node->directory && (node->attributes & kFileAttributeReadonly) &&
            ((access & kWriteRights) || truncates))
            return kErrorAccessDenied;
        if (uint32_t code = ShareConflict(node.get(), access, shareMode)) return code;
        if (truncates) node->contents.clear();
    } else {
        if (disposition == kOpenExisting || disposition == kTruncateExisting) return kErrorFileNotFound;
        std::shared_ptr<Node> above;
        char drive = 0;
        if (Locate(dir.get(), above, drive) && driveTypes_[drive] == kDriveCdrom) return kErrorWriteProtect;
        node = std::make_shared<Node>();
        node->name = name;
        node->directory = kind == kOpenDirectoryOnly;
        node->attributes = node->directory ? 0u : uint32_t{kFileAttributeArchive};
        if (sddl != nullptr) node->security.ownerSid = SplitSddlOwner(sddl, node->security.sddl);
        dir->children[Fold(name)] = node;
    }
    out = AddHandle(node, access, shareMode);
    files_[out]->openedIn = dir;
    return 0;
}

uint32_t SimFileSystem::RenameByHandle(FileHandle file, FileHandle newParent,
                                       const std::u16string& wideName) {
    if (uint32_t code = faults_.Take("NtSetInformationFile")) return code;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string name = Utf16ToAnsi(wideName);
    if (!IsComponent(name)) return kErrorInvalidName;
    auto f = files_.find(file);
    auto p = files_.find(newParent);
    if (f == files_.end() || p == files_.end()) return kErrorInvalidHandle;
    if (!(f->second->access & kDeleteRights)) return kErrorAccessDenied;
    std::shared_ptr<Node> node = f->second->node;
    std::shared_ptr<Node> target = p->second->node;
    if (!target->directory) return kErrorDirectory;
    if (node->deletePending || target->deletePending) return kErrorAccessDenied;
    std::shared_ptr<Node> from, above;
    char fromDrive = 0, toDrive = 0;
    if (!LocateOpened(*f->second, from, fromDrive) || !from) return kErrorAccessDenied;
    if (!Locate(target.get(), above, toDrive)) return kErrorPathNotFound;
    if (fromDrive != toDrive) return kErrorNotSameDevice;
    if (Within(target, node.get())) return kErrorAccessDenied;  // a directory cannot move below itself
    if (target->children.count(Fold(name)) != 0) return kErrorAlreadyExists;
    from->children.erase(KeyIn(*from, node.get()));
    node->name = name;
    target->children[Fold(name)] = node;
    return 0;
}

uint32_t SimFileSystem::DeleteByHandle(FileHandle file) {
    if (uint32_t code = faults_.Take("NtSetInformationFile")) return code;
    std::lock_guard<std::mutex> lock(mutex_);
    auto f = files_.find(file);
    if (f == files_.end()) return kErrorInvalidHandle;
    if (!(f->second->access & kDeleteRights)) return kErrorAccessDenied;
    Node& node = *f->second->node;
    // The read-only mark refuses first, directories included; only then is emptiness asked.
    if (node.attributes & kFileAttributeReadonly) return kErrorAccessDenied;
    if (node.directory && !node.children.empty()) return kErrorDirNotEmpty;
    std::shared_ptr<Node> parent;
    char drive = 0;
    if (!LocateOpened(*f->second, parent, drive) || !parent) return kErrorAccessDenied;  // a drive root
    node.deletePending = true;
    pendingFolder_[&node] = parent;
    return 0;
}

uint32_t SimFileSystem::SetAttributesByHandle(FileHandle file, uint32_t attributes) {
    if (uint32_t code = faults_.Take("NtSetInformationFile")) return code;
    std::lock_guard<std::mutex> lock(mutex_);
    auto f = files_.find(file);
    if (f == files_.end()) return kErrorInvalidHandle;
    if (!(f->second->access & (kFileWriteAttributes | kGenericWrite | kGenericAll)))
        return kErrorAccessDenied;
    f->second->node->attributes = attributes & kSettableAttributes;
    return 0;
}

// --- a standard user ---

bool SimFileSystem::UserOwns(const std::string& sid, const Node* node) const {
    return node != nullptr && !sid.empty() && node->security.ownerSid == sid;
}

bool SimFileSystem::UserMayCreateIn(const std::string& sid, const Lookup& at) const {
    if (!at.parent) return false;
    if (UserOwns(sid, at.parent.get())) return true;
    for (const std::string& open : openToUsers)
        if (Resolve(open, true).node == at.parent) return true;
    return false;
}

bool SimFileSystem::Within(const std::shared_ptr<Node>& inner, const Node* outer) const {
    for (std::shared_ptr<Node> walk = inner; walk;) {
        if (walk.get() == outer) return true;
        std::shared_ptr<Node> up;
        char letter = 0;
        if (!Locate(walk.get(), up, letter)) break;
        walk = up;
    }
    return false;
}

uint32_t SimFileSystem::UserMayTake(const std::string& sid, const std::string& path, Lookup& out) const {
    out = Resolve(path);
    if (out.error) return out.error;
    if (!out.node) return kErrorFileNotFound;
    if (!out.parent || out.node->deletePending) return kErrorAccessDenied;
    if (!UserOwns(sid, out.node.get()) && !UserOwns(sid, out.parent.get())) return kErrorAccessDenied;
    return ShareConflict(out.node.get(), kDeleteAccess, kFileShareRead | kFileShareWrite | kFileShareDelete);
}

uint32_t SimFileSystem::UserRename(const std::string& sid, const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup src;
    if (uint32_t code = UserMayTake(sid, from, src)) return code;
    Lookup dst = Resolve(to);
    if (dst.error) return dst.error;
    if (dst.node) return kErrorAlreadyExists;
    if (dst.drive != src.drive) return kErrorNotSameDevice;
    if (dst.parent != src.parent && !UserMayCreateIn(sid, dst)) return kErrorAccessDenied;
    if (Within(dst.parent, src.node.get())) return kErrorAccessDenied;  // a folder cannot move below itself
    std::shared_ptr<Node> moving = src.node;
    src.parent->children.erase(Fold(src.leaf));
    moving->name = dst.leaf;
    dst.parent->children[Fold(dst.leaf)] = moving;
    return 0;
}

uint32_t SimFileSystem::UserDelete(const std::string& sid, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l;
    if (uint32_t code = UserMayTake(sid, path, l)) return code;
    if (l.node->directory && !l.node->children.empty()) return kErrorDirNotEmpty;
    l.parent->children.erase(Fold(l.leaf));
    return 0;
}

uint32_t SimFileSystem::UserCreateDirectory(const std::string& sid, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return UserMakeLocked(sid, path, true, std::string());
}

uint32_t SimFileSystem::UserCreateFile(const std::string& sid, const std::string& path,
                                       const std::string& contents) {
    std::lock_guard<std::mutex> lock(mutex_);
    return UserMakeLocked(sid, path, false, std::string(), &contents);
}

uint32_t SimFileSystem::UserCreateLink(const std::string& sid, const std::string& path,
                                       const std::string& target, bool directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    return UserMakeLocked(sid, path, directory, target);
}

uint32_t SimFileSystem::UserCreateHardLink(const std::string& sid, const std::string& path,
                                           const std::string& target) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup t = Resolve(target, true);
    if (t.error) return t.error;
    if (!t.node) return kErrorFileNotFound;
    if (t.node->directory) return kErrorAccessDenied;
    Lookup l = Resolve(path);
    if (l.error) return l.error;
    if (!l.parent) return kErrorAccessDenied;
    if (l.node) return kErrorAlreadyExists;
    if (Fold(l.leaf) != Fold(t.node->name)) return kErrorInvalidParameter;
    if (!UserMayCreateIn(sid, l)) return kErrorAccessDenied;
    if (onSecondName && t.parent) onSecondName(t.node->security, FolderChainLocked(t.parent.get()));
    // The first name keeps its own from now on, whatever the object is called by another.
    if (t.parent) {
        auto first = t.parent->children.find(KeyIn(*t.parent, t.node.get()));
        if (first != t.parent->children.end()) first->second.name = NameOf(first->second);
    }
    SimNameEntry entry(t.node);
    entry.name = l.leaf;
    l.parent->children[Fold(l.leaf)] = entry;
    return 0;
}

uint32_t SimFileSystem::UserOpen(const std::string& sid, const std::string& path, uint32_t access,
                                 uint32_t share, FileHandle& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(path, true);
    if (l.error) return l.error;
    if (!l.node) return kErrorFileNotFound;
    if (l.node->deletePending) return kErrorAccessDenied;
    if (!UserOwns(sid, l.node.get()) && DeniesOpen(*l.node, access)) return kErrorAccessDenied;
    if (uint32_t code = ShareConflict(l.node.get(), access, share)) return code;
    out = AddHandle(l.node, access, share);
    return 0;
}

uint32_t SimFileSystem::UserMakeLocked(const std::string& sid, const std::string& path, bool directory,
                                       const std::string& linkTarget, const std::string* contents) {
    Lookup l = Resolve(path);
    if (l.error) return l.error;
    if (!l.parent) return kErrorAccessDenied;
    if (l.node) return kErrorAlreadyExists;
    if (!UserMayCreateIn(sid, l)) return kErrorAccessDenied;
    auto node = std::make_shared<Node>();
    node->name = l.leaf;
    node->security.ownerSid = sid;
    node->directory = directory;
    node->attributes = directory ? 0u : uint32_t{kFileAttributeArchive};
    if (contents != nullptr) node->contents = *contents;
    node->linkTarget = linkTarget;
    l.parent->children[Fold(l.leaf)] = node;
    return 0;
}

namespace {
bool DeniesOpen(const SimFileSystem::Node& n, uint32_t access) {
    uint32_t classes = 0;
    if (access & (kReadRights | kExecuteRights)) classes |= kGenericRead;
    if (access & kWriteRights) classes |= kGenericWrite;
    if (access & kDeleteRights) classes |= kDeleteAccess;
    return n.Denies(classes);
}
}  // namespace

bool SimFileSystem::FlushFileBuffers(FileHandle file) {
    if (Fail("FlushFileBuffers")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(file);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    if (!(it->second->access & kWriteRights)) return Refuse(kErrorAccessDenied);
    return true;
}

}  // namespace platform::sim
