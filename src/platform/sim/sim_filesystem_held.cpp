// The simulated file system: changes through held handles, relative to a held folder.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ansi.h"
#include "platform/registry.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_filesystem_nodes.h"

namespace platform::sim {

using namespace simfs;

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
    const std::string name = Real(wideName);
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
    const std::string name = Real(wideName);
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

}  // namespace platform::sim
