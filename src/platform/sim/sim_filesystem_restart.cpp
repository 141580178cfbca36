// The simulated file system: MoveFileEx, the restart queue, and the restart that carries it out.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ansi.h"
#include "platform/registry.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_filesystem_nodes.h"

namespace platform::sim {

using namespace simfs;

std::vector<SimPendingOperation> SimFileSystem::PendingOperations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SimPendingOperation> narrow = pending_;
    for (auto& op : narrow) {
        op.from = Narrow(op.from);
        op.to = Narrow(op.to);
    }
    return narrow;
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
        if (op.to.empty()) paths.push_back(Narrow(op.from));
    return paths;
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
    if (TooLong(from) || (to && TooLong(to))) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    std::string target = to ? Real(std::string(to)) : "";
    return Refuse(MoveLocked(Real(from), to ? &target : nullptr, flags));
}

bool SimFileSystem::MoveFileExW(const std::u16string& from, const char16_t* to, uint32_t flags) {
    if (Fail("MoveFileExW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string target = to ? Real(std::u16string(to)) : "";
    return Refuse(MoveLocked(Real(from), to ? &target : nullptr, flags));
}

}  // namespace platform::sim
