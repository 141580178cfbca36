// The simulated file system: the records the security area reads, links, short names, and a
// standard user acting on the machine.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ansi.h"
#include "platform/registry.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_filesystem_nodes.h"

namespace platform::sim {

using namespace simfs;

SimFileSecurity* SimFileSystem::SecurityOf(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path), true);
    return l.node ? &l.node->security : nullptr;
}

SimFileSecurity* SimFileSystem::SecurityOfHandle(FileHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(handle);
    return it == files_.end() ? nullptr : &it->second->node->security;
}

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

bool SimFileSystem::CreateLink(const std::string& ansiPath, const std::string& target, bool directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Real(ansiPath);
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
    node->linkTarget = Real(target);
    return true;
}

bool SimFileSystem::SetShortName(const std::string& path, const std::string& shortName) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    if (!l.node || !l.parent) return false;
    l.node->shortName = Real(shortName);
    return true;
}

bool SimFileSystem::UserOwns(const std::string& sid, const Node* node) const {
    return node != nullptr && !sid.empty() && node->security.ownerSid == sid;
}

bool SimFileSystem::UserMayCreateIn(const std::string& sid, const Lookup& at) const {
    if (!at.parent) return false;
    if (UserOwns(sid, at.parent.get())) return true;
    for (const std::string& open : openToUsers)
        if (Resolve(Real(open), true).node == at.parent) return true;
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
    out = Resolve(Real(path));
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
    Lookup dst = Resolve(Real(to));
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
    Lookup t = Resolve(Real(target), true);
    if (t.error) return t.error;
    if (!t.node) return kErrorFileNotFound;
    if (t.node->directory) return kErrorAccessDenied;
    Lookup l = Resolve(Real(path));
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
    Lookup l = Resolve(Real(path), true);
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
    Lookup l = Resolve(Real(path));
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
    node->linkTarget = Real(linkTarget);
    l.parent->children[Fold(l.leaf)] = node;
    return 0;
}

}  // namespace platform::sim
