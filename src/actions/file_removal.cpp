// Queuing the listed files and directories for deletion at the next restart.
#include <cstring>

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
        RemovePath(path);
        ++count;
    }
    EngineLog(5, "%s: CleanupFiles was successful with '%d' deleted values", "CNuke::CleanupFiles", count);
    return 0;
}

void CNuke::RemovePath(const char* path) {
    static const char* const kTag = "CNuke::RemovePath";
    if (path == nullptr) return;
    if (std::strlen(path) >= expand::kMaxPathBuffer) {
        EngineLog(3, "%s: Path '%s' is too long, skipped", kTag, path);
        return;
    }
    // The deletion at restart leaves a read-only file in place.
    uint32_t attributes = os_.fs.GetFileAttributesA(path);
    bool readOnly = attributes != platform::kInvalidFileAttributes &&
                    (attributes & platform::kFileAttributeReadonly) != 0 &&
                    !os_.fs.SetFileAttributesA(path, attributes & ~platform::kFileAttributeReadonly);

    if (os_.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot)) {
        EngineLog(5, "%s: MoveFileEx for '%s' was successful", kTag, path);
        return;
    }
    EngineLog(3, "%s: MoveFileEx for '%s' FAILED. Trying again with DropFileAcl...", kTag, path);
    if (DropFileAcl(path) != 1) {
        EngineLog(2, "%s: DropFileAcl for '%s' FAILED", kTag, path);
        return;
    }
    EngineLog(5, "%s: DropFileAcl for '%s' was successful, trying again MoveFileEx...", kTag, path);
    // The list that kept the attribute from being cleared is gone now.
    if (readOnly) (void)os_.fs.SetFileAttributesA(path, attributes & ~platform::kFileAttributeReadonly);
    if (os_.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot))
        EngineLog(5, "%s: MoveFileEx (2nd try) for '%s' was successful", kTag, path);
    else
        EngineLog(2, "%s: MoveFileEx (2nd try) for '%s' FAILED", kTag, path);
}

uint32_t CNuke::DropFileAcl(const char* path) {
    if (path == nullptr) return 0;
    static const uint8_t kWorldAuthority[6] = {0, 0, 0, 0, 0, 1};
    platform::ExplicitAccess everyone;
    if (!os_.sec.AllocateAndInitializeSid(kWorldAuthority, {0}, everyone.sid)) return 0;
    everyone.permissions = platform::kGenericAll;
    everyone.mode = platform::kSetAccess;
    everyone.inheritance = platform::kSubContainersAndObjectsInherit;
    everyone.trusteeForm = platform::kTrusteeIsSid;
    everyone.trusteeType = platform::kTrusteeIsWellKnownGroup;

    std::string dacl;
    uint32_t rc = os_.sec.SetEntriesInAclW({everyone}, std::string(), dacl);
    if (rc != platform::kErrorSuccess) {
        EngineLog(3, "%s: DropFileAcl: SetEntriesInAclW failed as %d", "CNuke::DropFileAcl",
                  static_cast<int>(rc));
        return 0;
    }
    // The whole list is replaced and no longer inherited; owner and group stay.
    rc = os_.sec.SetNamedSecurityInfoA(
        path, platform::kSeFileObject,
        platform::kDaclSecurityInformation | platform::kProtectedDaclSecurityInformation, nullptr,
        dacl.c_str());
    return rc == platform::kErrorSuccess ? 1 : 0;
}

}  // namespace engine
