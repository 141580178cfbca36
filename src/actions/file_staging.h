// Where the file step puts what it removes until the restart. The restart deletes by name,
// resolving each name again at boot through whatever links are there then; so only names
// inside a folder that no standard user can reach are queued: one per volume and run, made
// fresh at the volume's root under a name nobody can guess, owned by Administrators and
// open to Administrators and SYSTEM only, and itself queued after everything in it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "actions/acl.h"
#include "guard/held_path.h"
#include "platform/platform.h"

namespace actions {

class FileStaging {
  public:
    explicit FileStaging(platform::Platform& os) : os_(os), privilege_(os.sys), held_(os) {}
    ~FileStaging() { (void)Finish(); }
    FileStaging(const FileStaging&) = delete;
    FileStaging& operator=(const FileStaging&) = delete;

    // What the file step learns of a volume at its first use. Only fixed volumes whose file
    // system keeps access lists are staged on: on any other an Administrators-only folder
    // would be open to everyone.
    struct Volume {
        enum class Unstaged {
            kNo,             // staged on: `top` is its staging folder
            kNotFixed,       // a removable, remote or other drive that is not fixed
            kNoAccessLists,  // its file system keeps no access lists (FAT, exFAT)
            kNoFolder,       // the staging folder could not be made: `error`
        };
        Unstaged unstaged = Unstaged::kNo;
        uint32_t error = 0;
        uint32_t driveType = platform::kDriveUnknown;
        std::string fileSystem;  // as the volume names it; empty when not known
        std::string top;
    };
    // Where the next object of the volume `drive` ('C') goes, when its files are staged:
    // `folder` and `path` the held batch folder inside the volume's staging folder, both made
    // at their first use; `firstTime` tells that this call looked at the volume first. Each
    // batch takes kPerBatch objects: a folder's size is what a file system that looks names
    // up by reading the folder (Wine's) pays for each name moved into it. Asked again, a
    // volume whose staging folder could not be made gives the same error without a second try.
    const Volume& FolderFor(char drive, platform::FileHandle& folder, std::string& path, bool& firstTime);
    static constexpr uint32_t kPerBatch = 256;
    // A name not used before in this run's folders.
    std::string NextName();
    // Queues every staging folder for deletion at restart, each batch folder after all that
    // was queued in it and the staging folder last, and lets go of them: the folders queued,
    // and in `failed` those that could not be.
    std::vector<std::string> Finish(std::vector<std::string>* failed = nullptr);

    // A staging folder that an earlier run left when it was ended before its end: what it
    // holds was never queued, or the folder was not.
    struct Leftover {
        std::string path;
        int queued = 0;         // names inside it queued for deletion at restart
        uint32_t error = 0;     // the first queueing that failed, or 0
        bool notOurs = false;   // a standard user could change it: left alone
        bool finished = false;  // its run queued it whole before it ended: nothing to do
    };
    // Finds the staging folders at the roots of the fixed volumes and queues everything in
    // them, then each folder itself, for deletion at restart. Only a folder that no standard
    // user can change is taken, or one that `made` names ("<path> <identity>", kept where no
    // standard user can write) as the very object a run made, through a handle held until its
    // names are queued; one a user could have made or changed is reported and left as it is.
    // A file system that keeps no access lists (Wine's) can prove a folder ours only so.
    // A folder already in the restart queue is finished: its run queued it after all it holds.
    std::vector<Leftover> QueueLeftovers(const std::vector<std::string>& made = {});

    // `onMade` is told of each staging folder this run makes, before anything is moved into
    // it: "<path> <identity>" for QueueLeftovers of a later run.
    void SetOnMade(std::function<void(const std::string&)> onMade) { onMade_ = std::move(onMade); }

    // The folders above the object being removed; kept from one object to the next, which
    // mostly share them.
    guard::HeldPath& held() { return held_; }

  private:
    struct Folder {
        Volume volume;
        platform::UniqueFile handle;
        std::string path;
        platform::UniqueFile batch;  // held, as the staging folder is
        uint32_t inBatch = 0;
        std::vector<std::string> batches;  // made, in order; the last is `batch`
    };
    platform::Platform& os_;
    // Objects moved there are given to Administrators; owners that refuse it are overruled.
    guard::TakeOwnershipPrivilege privilege_;
    std::map<char, Folder> folders_;
    uint32_t next_ = 0;
    std::function<void(const std::string&)> onMade_;
    guard::HeldPath held_;
};

// What one try at taking an object away ended in.
struct StageResult {
    enum class Outcome {
        kStaged,     // moved into the staging folder and queued, or an emptied directory deleted
        kGone,       // nothing by that name any more
        kNoStaging,  // its volume's staging folder could not be made
        kUnstaged,   // its volume is not one to stage on: not fixed, or without access lists
        kNotEmpty,   // a directory that still holds what this run keeps or queued in place
        kMovedAway,  // a folder above it is missing where a standard user could have moved it
        kFailed,     // `error` tells why
    };
    Outcome outcome = Outcome::kFailed;
    uint32_t error = 0;  // the Windows error of kFailed, else 0

    static StageResult Of(Outcome outcome) { return StageResult{outcome, 0}; }
    // 0 is success: the object was staged.
    static StageResult Error(uint32_t error) {
        return error == 0 ? Of(Outcome::kStaged) : StageResult{Outcome::kFailed, error};
    }
};

// The prefix of every staging folder's name, which a GUID completes.
constexpr char kStagingFolderPrefix[] = "$SweepTool.Staging.";

}  // namespace actions
