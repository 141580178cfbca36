// Queuing the listed files and directories for deletion at the next restart.
#include <cstring>
#include <string>

#include "actions/acl.h"
#include "engine/cnuke.h"
#include "engine/engine_log.h"
#include "expand/path_helpers.h"

namespace engine {

uint32_t CNuke::CleanupFiles() {
    int count = 0;
    const char* path = nullptr;
    // Largest first: a directory's contents are queued ahead of it, so at restart the
    // directory is already empty when its turn comes.
    for (uint32_t rc = fileList.Last(&path); rc == 0; rc = fileList.Previous(&path)) {
        if (RemovePath(path))
            ++counts.filesQueued;
        else
            ++counts.filesFailed;
        ++count;
    }
    counts.filesListed = static_cast<uint32_t>(count);
    EngineLog(5, "%s: CleanupFiles was successful with '%d' deleted values", "CNuke::CleanupFiles", count);
    return 0;
}

bool CNuke::RemovePath(const char* path) {
    static const char* const kTag = "CNuke::RemovePath";
    if (path == nullptr) return false;
    if (std::strlen(path) >= expand::kMaxPathBuffer) {
        EngineLog(3, "%s: Path '%s' is too long, skipped", kTag, path);
        return false;
    }
    // What was listed may since have been swapped for a link by whoever can write to its
    // folder; every change below is made only while the name still leads to no link.
    auto throughLink = [&]() {
        std::string link = actions::FindLinkOnPath(os_, path);
        if (link.empty()) return false;
        EngineLog(3, actions::kLinkNotFollowedRecord, kTag, link.c_str());
        return true;
    };
    if (throughLink()) return false;
    // The deletion at restart leaves a read-only file in place.
    uint32_t attributes = os_.fs.GetFileAttributesA(path);
    bool readOnly = attributes != platform::kInvalidFileAttributes &&
                    (attributes & platform::kFileAttributeReadonly) != 0 &&
                    !os_.fs.SetFileAttributesA(path, attributes & ~platform::kFileAttributeReadonly);

    if (throughLink()) return false;
    if (os_.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot)) {
        EngineLog(5, "%s: MoveFileEx for '%s' was successful", kTag, path);
        return true;
    }
    EngineLog(3, "%s: MoveFileEx for '%s' FAILED. Trying again with DropFileAcl...", kTag, path);
    if (DropFileAcl(path) != 1) {
        EngineLog(2, "%s: DropFileAcl for '%s' FAILED", kTag, path);
        return false;
    }
    EngineLog(5, "%s: DropFileAcl for '%s' was successful, trying again MoveFileEx...", kTag, path);
    if (throughLink()) return false;
    // The list that kept the attribute from being cleared is gone now.
    if (readOnly) (void)os_.fs.SetFileAttributesA(path, attributes & ~platform::kFileAttributeReadonly);
    if (throughLink()) return false;
    if (os_.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot)) {
        EngineLog(5, "%s: MoveFileEx (2nd try) for '%s' was successful", kTag, path);
        return true;
    }
    EngineLog(2, "%s: MoveFileEx (2nd try) for '%s' FAILED", kTag, path);
    return false;
}

uint32_t CNuke::DropFileAcl(const char* path) {
    static const char* const kTag = "CNuke::DropFileAcl";
    if (path == nullptr) return 0;
    // Full control for the machine's own accounts only: the object goes at restart, and
    // until then no ordinary user may write into it.
    static const uint8_t kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
    platform::ExplicitAccess administrators;
    platform::ExplicitAccess system;
    if (!os_.sec.AllocateAndInitializeSid(kNtAuthority, {32, 544}, administrators.sid) ||
        !os_.sec.AllocateAndInitializeSid(kNtAuthority, {18}, system.sid))
        return 0;
    for (platform::ExplicitAccess* e : {&administrators, &system}) {
        e->permissions = platform::kGenericAll;
        e->mode = platform::kSetAccess;
        e->inheritance = platform::kSubContainersAndObjectsInherit;
        e->trusteeForm = platform::kTrusteeIsSid;
    }
    administrators.trusteeType = platform::kTrusteeIsGroup;
    system.trusteeType = platform::kTrusteeIsWellKnownGroup;

    std::string dacl;
    uint32_t rc = os_.sec.SetEntriesInAclW({administrators, system}, std::string(), dacl);
    if (rc != platform::kErrorSuccess) {
        EngineLog(3, "%s: DropFileAcl: SetEntriesInAclW failed as %d", kTag, static_cast<int>(rc));
        return 0;
    }
    // The whole list is replaced and no longer inherited; the group stays.
    rc = actions::SetFileDaclWithoutFollowing(os_, path, dacl.c_str());
    if (rc == actions::kErrorStoppedOnSymlink) EngineLog(3, actions::kLinkNotFollowedRecord, kTag, path);
    return rc == platform::kErrorSuccess ? 1 : 0;
}

}  // namespace engine
