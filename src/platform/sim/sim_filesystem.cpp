// The simulated file system: names and paths, the drives, and the tree a test arranges.
#include "platform/sim/sim_filesystem.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ansi.h"
#include "platform/registry.h"
#include "platform/sim/sim_filesystem_nodes.h"

namespace platform::sim {

using namespace simfs;

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
        if (HasWildcard(parts[i])) {
            r.error = kErrorInvalidName;
            return r;
        }
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
    // No name holds a wildcard: only a listing takes one, as a pattern.
    if (HasWildcard(r.leaf)) {
        r.error = kErrorInvalidName;
        return r;
    }
    r.node = Child(*dir, r.leaf);
    if (followLast && r.node && r.node->IsLink()) {
        if (depth >= kMaxLinkDepth) return Lookup{kErrorCantResolveFilename, nullptr, nullptr, {}, r.drive};
        return Resolve(r.node->linkTarget, true, depth + 1);
    }
    return r;
}

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

bool SimFileSystem::CreateFile(const std::string& ansiPath, const std::string& contents,
                               uint32_t attributes) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Real(ansiPath);
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
    return MakeDirectories(Real(path)) != nullptr;
}

bool SimFileSystem::Exists(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Resolve(Real(path)).node != nullptr;
}

std::string SimFileSystem::Contents(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    return l.node ? l.node->contents : std::string();
}

uint64_t SimFileSystem::Size(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    return l.node ? l.node->contents.size() : 0;
}

uint32_t SimFileSystem::Attributes(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    return l.node ? l.node->Reported() : kInvalidFileAttributes;
}

std::vector<std::string> SimFileSystem::List(const std::string& directory) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    Lookup l = Resolve(Real(directory));
    if (l.node && l.node->directory)
        for (const auto& [key, child] : l.node->children) names.push_back(Narrow(NameOf(child)));
    return names;
}

bool SimFileSystem::Remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    if (!l.node || !l.parent || (l.node->directory && !l.node->children.empty())) return false;
    l.parent->children.erase(Fold(l.leaf));
    return true;
}

std::string SimFileSystem::TempDirectory() const { return Utf16ToAnsi(TempDirectoryW()); }

std::u16string SimFileSystem::TempDirectoryW() const {
    // Reading the environment must not leave its "not found" as the thread's last error.
    LastErrorGuard<SimSystem> keep(system_);
    std::u16string dir;
    if (!(system_.GetEnvironmentVariable(u"TMP", dir) || system_.GetEnvironmentVariable(u"TEMP", dir)) ||
        dir.empty())
        dir = AnsiToUtf16(tempDirectory);
    while (dir.size() > 3 && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
    return dir;
}

uint32_t SimFileSystem::GetTempPathW(uint32_t bufferChars, std::u16string& out) {
    if (Fail("GetTempPathW")) return 0;
    std::u16string path = TempDirectoryW();
    if (path.empty() || (path.back() != u'\\' && path.back() != u'/')) path += u'\\';
    const uint32_t length = static_cast<uint32_t>(path.size());
    if (bufferChars <= length) return length + 1;  // the size needed, terminator included
    out = path;
    return length;
}

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

}  // namespace platform::sim
