// Queuing the listed files and directories for deletion at the next restart.
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "actions/acl.h"
#include "actions/file_staging.h"
#include "engine/cnuke.h"
#include "expand/path_helpers.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"

namespace engine {

namespace {

constexpr const char* kRemoveTag = "CNuke::RemovePath";
constexpr const char* kCleanupTag = "CNuke::CleanupFiles";

using Outcome = actions::StageResult::Outcome;
using Unstaged = actions::FileStaging::Volume::Unstaged;

// Windows deletes no read-only object, directory or file, neither now nor at restart. 0, or
// the error of clearing the attribute through `object` (opened with FILE_WRITE_ATTRIBUTES).
uint32_t ClearReadOnly(platform::Platform& os, platform::FileHandle object, uint32_t attributes) {
    if ((attributes & platform::kFileAttributeReadonly) == 0) return 0;
    const uint32_t rest =
        attributes & ~(platform::kFileAttributeReadonly | platform::kFileAttributeReparsePoint |
                       platform::kFileAttributeDirectory);
    return os.fs.SetAttributesByHandle(object, rest != 0 ? rest : platform::kFileAttributeNormal);
}

const char* DriveKind(uint32_t driveType) {
    switch (driveType) {
        case platform::kDriveRemovable:
            return "removable";
        case platform::kDriveRemote:
            return "network";
        case platform::kDriveCdrom:
            return "CD-ROM";
        case platform::kDriveRamdisk:
            return "RAM disk";
        default:
            return "unknown";
    }
}

// What the file step does on a volume, said once, as it first meets the volume.
void LogVolume(const actions::FileStaging::Volume& volume, char letter) {
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    switch (volume.unstaged) {
        case Unstaged::kNo:
            EngineLog(
                4, "%s: Files of this run leave their folders for '%s' and are deleted from there at restart",
                kRemoveTag, volume.top.c_str());
            break;
        case Unstaged::kNoFolder:
            EngineLog(
                2,
                "%s: No staging folder can be made on '%c:' (%04d): its files are queued for deletion at "
                "restart by their own names where no standard user can change their paths, else kept",
                kRemoveTag, drive, static_cast<int>(volume.error));
            break;
        case Unstaged::kNoAccessLists:
            EngineLog(
                4,
                "%s: Files on '%c:' are not staged: its file system '%s' keeps no access lists; they are "
                "queued for deletion at restart by their own names where no standard user can change "
                "their paths, else kept",
                kRemoveTag, drive, volume.fileSystem.c_str());
            break;
        case Unstaged::kNotFixed:
            EngineLog(
                4,
                "%s: Files on '%c:' are not staged: it is a %s drive, not a fixed one; they are queued for "
                "deletion at restart by their own names where no standard user can change their paths, "
                "else kept",
                kRemoveTag, drive, DriveKind(volume.driveType));
            break;
    }
}

}  // namespace

uint32_t CNuke::CleanupFiles() {
    int count = 0;
    const char* path = nullptr;
    actions::FileStaging staging(os_);
    // A run that was ended in its file step left files in its staging folder that were never
    // queued; this run finishes that before it makes its own.
    if (!previewOnly)
        for (const auto& left : staging.QueueLeftovers(StagingFoldersMade())) {
            if (left.finished)
                EngineLog(
                    5, "%s: Staging folder '%s' of an earlier run is queued for deletion at restart already",
                    kCleanupTag, left.path.c_str());
            else if (left.notOurs)
                EngineLog(3,
                          "%s: '%s' is not a staging folder of this tool: a standard user can change it; "
                          "left alone",
                          kCleanupTag, left.path.c_str());
            else if (left.error != 0)
                EngineLog(
                    2,
                    "%s: Staging folder '%s' left by an ended run: %d names queued for deletion at restart, "
                    "some could not be (%04d)",
                    kCleanupTag, left.path.c_str(), left.queued, static_cast<int>(left.error));
            else
                EngineLog(
                    3,
                    "%s: Staging folder '%s' left by an ended run: %d names queued for deletion at restart",
                    kCleanupTag, left.path.c_str(), left.queued);
        }
    if (!previewOnly) staging.SetOnMade([this](const std::string& made) { RecordStagingFolder(made); });
    staging_ = &staging;
    // Largest first: a directory's contents leave ahead of it, so it is empty when its turn comes.
    for (uint32_t rc = fileList.Last(&path); rc == 0; rc = fileList.Previous(&path)) {
        if (RemovePath(path))
            ++counts.filesQueued;
        else
            ++counts.filesFailed;
        ++count;
    }
    staging_ = nullptr;
    std::vector<std::string> failed;
    for (const std::string& folder : staging.Finish(&failed))
        EngineLog(5, "%s: Staging folder '%s' is queued for deletion at restart", kCleanupTag,
                  folder.c_str());
    for (const std::string& folder : failed)
        EngineLog(2, "%s: Staging folder '%s' could not be queued for deletion at restart (%04d)",
                  kCleanupTag, folder.c_str(), static_cast<int>(os_.sys.GetLastError()));
    counts.filesListed = static_cast<uint32_t>(count);
    EngineLog(5, "%s: CleanupFiles was successful with '%d' deleted values", kCleanupTag, count);
    return 0;
}

// One try: the object is opened inside its held folders and, through that handle, deleted
// at once (an emptied directory) or moved into the volume's staging folder, whose new name
// is queued. Nothing is left half done: a move whose queueing fails is moved back.
actions::StageResult CNuke::StagePath(actions::FileStaging& staging, const char* path, std::string& link) {
    using actions::StageResult;
    uint32_t rc = staging.held().HoldParentsOf(path, &link);
    // A folder a standard user may have renamed away took what it holds along: not removed.
    if ((rc == platform::kErrorFileNotFound || rc == platform::kErrorPathNotFound) &&
        staging.held().MissingUnderUserFolder())
        return StageResult::Of(Outcome::kMovedAway);
    if (rc == platform::kErrorFileNotFound || rc == platform::kErrorPathNotFound)
        return StageResult::Of(Outcome::kGone);
    if (rc != 0) return StageResult::Error(rc);
    platform::UniqueFile object;
    uint32_t attributes = 0;
    rc = staging.held().Open(platform::kDeleteAccess | platform::kFileWriteAttributes |
                                 platform::kReadControl | platform::kWriteOwner,
                             object, &attributes);
    if (rc == platform::kErrorFileNotFound) return StageResult::Of(Outcome::kGone);
    if (rc == guard::kErrorStoppedOnSymlink) link = path;
    if (rc != 0) return StageResult::Error(rc);
    const bool directory = (attributes & platform::kFileAttributeDirectory) != 0;
    platform::FileHandle folder = 0;
    std::string folderPath;
    if (!directory) {
        bool firstTime = false;
        const actions::FileStaging::Volume& volume =
            staging.FolderFor(path[0], folder, folderPath, firstTime);
        if (firstTime) LogVolume(volume, path[0]);
        if (volume.unstaged == Unstaged::kNoFolder) return StageResult::Of(Outcome::kNoStaging);
        if (volume.unstaged != Unstaged::kNo) return StageResult::Of(Outcome::kUnstaged);
    }
    if ((rc = ClearReadOnly(os_, object.get(), attributes)) != 0) return StageResult::Error(rc);
    if (directory) {
        // A directory is never moved whole: what it still holds would go into the staging
        // folder with it, where the restart cannot delete it, and the folder would stay.
        rc = os_.fs.DeleteByHandle(object.get());
        return rc == platform::kErrorDirNotEmpty ? StageResult::Of(Outcome::kNotEmpty)
                                                 : StageResult::Error(rc);
    }
    const std::string name = staging.NextName();
    if ((rc = os_.fs.RenameByHandle(object.get(), folder, platform::AnsiToUtf16(name))) != 0)
        return StageResult::Error(rc);
    const std::string staged = folderPath + "\\" + name;
    if (!os_.fs.MoveFileExA(staged, nullptr, platform::kMovefileDelayUntilReboot)) {
        rc = os_.sys.GetLastError();
        (void)os_.fs.RenameByHandle(object.get(), staging.held().Parent(),
                                    platform::AnsiToUtf16(staging.held().Leaf()));
        return StageResult::Error(rc != 0 ? rc : platform::kErrorInvalidFunction);
    }
    // Whoever owned it could otherwise open its list up again until the restart; the owner of
    // a file with other names is theirs as well, and stays.
    if (guard::CheckSingleName(os_, object.get()) == 0)
        (void)os_.sec.SetFileSecurityInfo(object.get(), platform::kOwnerSecurityInformation,
                                          platform::kAdministratorsSid, nullptr);
    return StageResult::Of(Outcome::kStaged);
}

// An object that can be neither moved nor deleted now, or whose volume it cannot be staged
// on, is queued by its own name, but only when nobody but the machine's own accounts could
// change what that name leads to at boot. A directory that is not empty goes the same way,
// after what it holds; where its path is not safe to queue, it stays with what it holds.
bool CNuke::QueueInPlace(actions::FileStaging& staging, const char* path, const actions::StageResult& why) {
    guard::HeldPath& held = staging.held();
    // A chain that is not held whole (a folder a user holds open, or swapped) is nothing to
    // judge by: what stays held would be another object's folders.
    bool userCanChange = held.UserCanChangeFolders() || held.Leaf().empty();
    platform::UniqueFile object;
    uint32_t attributes = 0;
    if (!userCanChange && held.Open(platform::kReadControl, object, &attributes) != 0) userCanChange = true;
    if (!userCanChange) userCanChange = guard::UserCanChange(os_, object.get(), true);
    if (userCanChange) {
        switch (why.outcome) {
            case Outcome::kNotEmpty:
                EngineLog(3, "%s: '%s' still holds what is not removed: kept", kRemoveTag, path);
                break;
            case Outcome::kNoStaging:
                EngineLog(2,
                          "%s: '%s' is kept: its volume has no staging folder, and a standard user could "
                          "change its path",
                          kRemoveTag, path);
                break;
            case Outcome::kUnstaged:
                EngineLog(2,
                          "%s: '%s' is kept: files on its volume are not staged, and a standard user could "
                          "change its path",
                          kRemoveTag, path);
                break;
            default:
                EngineLog(2,
                          "%s: '%s' can be neither moved nor deleted, and a standard user could change its "
                          "path: kept",
                          kRemoveTag, path);
        }
        return false;
    }
    // Through a handle of its own: FILE_WRITE_ATTRIBUTES takes no part in sharing, so whatever
    // holds the object in use does not keep its read-only attribute on it.
    platform::UniqueFile writable;
    if ((attributes & platform::kFileAttributeReadonly) != 0 &&
        held.Open(platform::kFileWriteAttributes, writable) == 0)
        (void)ClearReadOnly(os_, writable.get(), attributes);
    if (!os_.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot)) {
        EngineLog(2, "%s: MoveFileEx for '%s' FAILED", kRemoveTag, path);
        return false;
    }
    switch (why.outcome) {
        case Outcome::kNotEmpty:
            EngineLog(4, "%s: '%s' is not empty yet and is queued for deletion at restart by its own name",
                      kRemoveTag, path);
            break;
        case Outcome::kNoStaging:
        case Outcome::kUnstaged:
            EngineLog(5, "%s: '%s' is queued for deletion at restart by its own name", kRemoveTag, path);
            break;
        default:
            EngineLog(3, "%s: '%s' is in use and is queued for deletion at restart by its own name",
                      kRemoveTag, path);
    }
    return true;
}

bool CNuke::RemovePath(const char* path) {
    if (path == nullptr) return false;
    if (std::strlen(path) >= expand::kMaxPathBuffer) {
        EngineLog(3, "%s: Path '%s' is too long, skipped", kRemoveTag, path);
        return false;
    }
    std::unique_ptr<actions::FileStaging> own;
    if (staging_ == nullptr) own = std::make_unique<actions::FileStaging>(os_);
    actions::FileStaging& staging = staging_ != nullptr ? *staging_ : *own;

    // Each outcome but a plain failure settles the path: whether it is gone or goes at restart.
    // A plain failure (none) leaves the next step to the caller.
    auto settle = [&](const actions::StageResult& result, const std::string& link,
                      const char* success) -> std::optional<bool> {
        switch (result.outcome) {
            case Outcome::kStaged:
                EngineLog(5, success, kRemoveTag, path);
                return true;
            case Outcome::kGone:
                EngineLog(5, "%s: '%s' no longer exists", kRemoveTag, path);
                return true;
            case Outcome::kMovedAway:
                EngineLog(3,
                          "%s: '%s' is no longer where it was listed: a folder above it that a standard user "
                          "can change is gone or was renamed; kept",
                          kRemoveTag, path);
                return false;
            case Outcome::kNoStaging:
            case Outcome::kUnstaged:
            case Outcome::kNotEmpty:
                return QueueInPlace(staging, path, result);
            case Outcome::kFailed:
                break;
        }
        switch (result.error) {
            case guard::kErrorStoppedOnSymlink:
                EngineLog(3, actions::kLinkNotFollowedRecord, kRemoveTag, link.empty() ? path : link.c_str());
                return false;
            case platform::kErrorSharingViolation:
                return QueueInPlace(staging, path, result);
            default:
                return std::nullopt;
        }
    };
    std::string link;
    if (auto removed = settle(StagePath(staging, path, link), link, "%s: MoveFileEx for '%s' was successful"))
        return *removed;
    EngineLog(3, "%s: MoveFileEx for '%s' FAILED. Trying again with DropFileAcl...", kRemoveTag, path);
    if (DropFileAcl(path) != 1) {
        EngineLog(2, "%s: DropFileAcl for '%s' FAILED", kRemoveTag, path);
        return false;
    }
    EngineLog(5, "%s: DropFileAcl for '%s' was successful, trying again MoveFileEx...", kRemoveTag, path);
    link.clear();
    if (auto removed =
            settle(StagePath(staging, path, link), link, "%s: MoveFileEx (2nd try) for '%s' was successful"))
        return *removed;
    EngineLog(2, "%s: MoveFileEx (2nd try) for '%s' FAILED", kRemoveTag, path);
    return false;
}

uint32_t CNuke::DropFileAcl(const char* path, guard::HeldPath* held) {
    static const char* const kTag = "CNuke::DropFileAcl";
    if (path == nullptr) return 0;
    // Full control for the machine's own accounts only: the object goes at restart, and
    // until then no ordinary user may write into it. The same list for every object.
    if (machineOnlyDacl_.empty()) {
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
        uint32_t rc = os_.sec.SetEntriesInAclW({administrators, system}, std::string(), machineOnlyDacl_);
        if (rc != platform::kErrorSuccess) {
            machineOnlyDacl_.clear();
            EngineLog(3, "%s: DropFileAcl: SetEntriesInAclW failed as %d", kTag, static_cast<int>(rc));
            return 0;
        }
    }
    // The whole list is replaced and no longer inherited; the group stays.
    uint32_t rc = guard::SetFileDaclWithoutFollowing(os_, path, machineOnlyDacl_.c_str(), held);
    if (rc == guard::kErrorStoppedOnSymlink) EngineLog(3, actions::kLinkNotFollowedRecord, kTag, path);
    if (rc == guard::kErrorHardLinked)
        EngineLog(3, "%s: '%s' has other names (hard links): its access list is left as it is", kTag, path);
    return rc == platform::kErrorSuccess ? 1 : 0;
}

}  // namespace engine
