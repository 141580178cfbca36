// The simulated file system: handles and their sharing, and the calls that name their object by path.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ansi.h"
#include "platform/registry.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_filesystem_nodes.h"

namespace platform::sim {

using namespace simfs;

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

int SimFileSystem::OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(files_.size());
}

int SimFileSystem::OpenFindHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(listings_.size());
}

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
    return OpenFileLocked(Real(path), access, shareMode, sddl, disposition, flagsAndAttributes, out);
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
    if (TooLong(path)) {
        system_.SetLastError(kErrorFilenameExcedRange);
        return kInvalidFileAttributes;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    if (l.node) return l.node->Reported();
    system_.SetLastError(l.error ? l.error : kErrorFileNotFound);
    return kInvalidFileAttributes;
}

uint32_t SimFileSystem::GetFileAttributesW(const std::u16string& path) {
    if (Fail("GetFileAttributesW")) return kInvalidFileAttributes;
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    if (l.node) return l.node->Reported();
    system_.SetLastError(l.error ? l.error : kErrorFileNotFound);
    return kInvalidFileAttributes;
}

bool SimFileSystem::SetFileAttributesA(const std::string& path, uint32_t attributes) {
    if (Fail("SetFileAttributesA")) return false;
    if (TooLong(path)) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
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
    if (TooLong(path)) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(DeleteLocked(Real(path)));
}

bool SimFileSystem::DeleteFileW(const std::u16string& path) {
    if (Fail("DeleteFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(DeleteLocked(Real(path)));
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
    if (TooLong(path)) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(CreateDirectoryLocked(Real(path), sddl));
}

bool SimFileSystem::CreateDirectoryW(const std::u16string& path, const char* sddl) {
    if (Fail("CreateDirectoryW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse(CreateDirectoryLocked(Real(path), sddl));
}

bool SimFileSystem::RemoveDirectoryA(const std::string& path) {
    if (Fail("RemoveDirectoryA")) return false;
    if (TooLong(path)) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
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
    const bool wildcard = l.error == kErrorInvalidName && l.parent && HasWildcard(l.leaf);
    if (l.error && !wildcard) return l.error;
    if (!l.parent) return kErrorFileNotFound;  // a drive root has no entry of its own
    auto listing = std::make_unique<Listing>();
    if (wildcard) {
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
    if (TooLong(pattern)) return Refuse(kErrorFilenameExcedRange);
    std::lock_guard<std::mutex> lock(mutex_);
    FindDataA real;
    if (!Refuse(FindFirstLocked(Real(pattern), real, out))) return false;
    data = FindDataA{real.attributes, real.size, Narrow(real.name)};
    return true;
}

uint32_t SimFileSystem::FindNextLocked(FindHandle handle, FindDataA& data) {
    auto it = listings_.find(handle);
    if (it == listings_.end()) return kErrorInvalidHandle;
    Listing& l = *it->second;
    if (l.next >= l.entries.size()) return kErrorNoMoreFiles;
    data = l.entries[l.next++];
    return 0;
}

bool SimFileSystem::FindNextFileA(FindHandle handle, FindDataA& data) {
    if (Fail("FindNextFileA")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    FindDataA real;
    if (!Refuse(FindNextLocked(handle, real))) return false;
    data = FindDataA{real.attributes, real.size, Narrow(real.name)};
    return true;
}

bool SimFileSystem::FindFirstFileW(const std::u16string& pattern, FindDataW& data, FindHandle& out) {
    if (Fail("FindFirstFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    FindDataA real;
    if (!Refuse(FindFirstLocked(Real(pattern), real, out))) return false;
    data = FindDataW{real.attributes, real.size, Wide(real.name)};
    return true;
}

bool SimFileSystem::FindNextFileW(FindHandle handle, FindDataW& data) {
    if (Fail("FindNextFileW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    FindDataA real;
    if (!Refuse(FindNextLocked(handle, real))) return false;
    data = FindDataW{real.attributes, real.size, Wide(real.name)};
    return true;
}

void SimFileSystem::FindClose(FindHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    listings_.erase(handle);
}

int SimFileSystem::Access(const std::string& path, int mode) {
    if (faults_.Take("_access")) return -1;
    if (TooLong(path)) return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    Lookup l = Resolve(Real(path));
    if (!l.node) return -1;
    // The C runtime looks at the read-only attribute only; access lists play no part.
    if ((mode & kAccessWrite) && !l.node->directory && (l.node->attributes & kFileAttributeReadonly))
        return -1;
    return 0;
}

uint32_t SimFileSystem::ReadWholeFile(const std::string& path, std::string& bytes) {
    if (uint32_t code = faults_.Take("CreateFileA")) return code;
    if (TooLong(path)) return kErrorFilenameExcedRange;
    std::lock_guard<std::mutex> lock(mutex_);
    FileHandle h = 0;
    if (!OpenFileLocked(Real(path), kGenericRead, kFileShareRead | kFileShareWrite | kFileShareDelete,
                        nullptr, kOpenExisting, 0, h))
        return system_.GetLastError();
    std::string contents = files_[h]->node->contents;
    files_.erase(h);
    bytes = std::move(contents);
    return 0;
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
    return Refuse(CopyLocked(Real(from), Real(to), failIfExists));
}

bool SimFileSystem::FlushFileBuffers(FileHandle file) {
    if (Fail("FlushFileBuffers")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(file);
    if (it == files_.end()) return Refuse(kErrorInvalidHandle);
    if (!(it->second->access & kWriteRights)) return Refuse(kErrorAccessDenied);
    return true;
}

}  // namespace platform::sim
