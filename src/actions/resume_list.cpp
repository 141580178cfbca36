// What a run is about to remove, kept in the tool's own folder until the run has gone
// through its sequence. A run that is ended on the way (a time-out, a power cut) may
// already have taken the evidence that listed an object: the value that named a folder,
// the publisher that made a product the maker's. The next run takes those objects up from
// here, so that it finishes what the first began.
#include <cstdio>
#include <string>

#include "engine/cnuke.h"
#include "engine/list_init.h"
#include "expand/protected_locations.h"
#include "guard/tool_folder.h"
#include "logging/engine_log.h"

namespace engine {

namespace {

constexpr const char* kTag = "CNuke::ResumeList";
constexpr char kResumeFile[] = "sweeptool.resume.txt";
// Written in full first, then given the name above: a list is complete or not there.
constexpr char kResumeNewFile[] = "sweeptool.resume.new";
constexpr char kHeader[] = "SweepTool resume list 1";
// A list another configuration made is kept here, out of the way; the next one replaces it.
constexpr char kResumeOldFile[] = "sweeptool.resume.old";
// The staging folders a run made, kept with the same care as the list.
constexpr char kStagingFile[] = "sweeptool.staging.txt";
constexpr char kStagingNewFile[] = "sweeptool.staging.new";
constexpr char kStagingHeader[] = "SweepTool staging folders 1";
constexpr char kEnd[] = "end";
constexpr size_t kMaxResumeBytes = 64u << 20;

enum class Kind { Key, Value, File };
struct Section {
    const char* title;
    TSet CNuke::*list;
    TSet CNuke::*ignore;
    Kind kind;
};
const Section kSections[] = {
    {"[registry key]", &CNuke::regKeyList, &CNuke::ignoreRegKeyList, Kind::Key},
    {"[registry value]", &CNuke::regValueList, &CNuke::ignoreRegValueList, Kind::Value},
    {"[file]", &CNuke::fileList, &CNuke::ignoreFileList, Kind::File},
};

// The lines of a complete list (header first, end last), without their line ends; empty
// for anything else.
std::vector<std::string> CompleteLines(const std::string& text, const char* header = kHeader) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) return {};  // cut inside its last line
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    if (lines.size() < 2 || lines.front() != header || lines.back() != kEnd) return {};
    return lines;
}

// One of the tool's records; one that the tool did not write is data of someone else's and
// steers nothing.
bool ReadRecord(guard::ToolFolder& folder, const char* name, std::string& text) {
    const uint32_t rc = folder.ReadFile(name, kMaxResumeBytes, text);
    if (rc == guard::kErrorNotTheTools)
        EngineLog(
            2,
            "%s: '%s\\%s' was not written by this tool (its owner is no machine account, or it has other "
            "names): not used",
            kTag, folder.path().c_str(), name);
    return rc == 0;
}

// FNV-1a, 64 bits: a list written for other bytes is told from this run's, not guarded
// against someone who could write the tool's folder anyway.
uint64_t Fnv1a(uint64_t hash, const std::string& bytes) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
    return hash;
}

}  // namespace

// What made the lists: the configuration's bytes, the options that change what is removed
// and the tool's version. A list made by anything else is not this run's to finish.
std::string CNuke::ResumeBinding() const {
    uint64_t hash = Fnv1a(0xcbf29ce484222325ull, configBytes);
    hash = Fnv1a(hash, std::string(1, '\0') + VersionText());
    char line[160];
    std::snprintf(line, sizeof line, "made by version %s, removeAll %u, forceMsi %u, configuration %08x%08x",
                  VersionText(), static_cast<unsigned>(removeAll), static_cast<unsigned>(forceMsi),
                  static_cast<unsigned>(hash >> 32), static_cast<unsigned>(hash & 0xffffffffu));
    return line;
}

void CNuke::TakeUpUnfinishedRun() {
    // Without the folder there is nothing to take up, and a preview must not make it.
    const std::string path = guard::ToolFolderPath(os_);
    if (path.empty() || os_.fs.GetFileAttributesA(path) == platform::kInvalidFileAttributes) return;
    guard::ToolFolder folder(os_);
    if (folder.Open() != 0) return;
    int added = 0;
    for (const char* name : {kResumeFile, kResumeNewFile}) {
        std::string text;
        if (!ReadRecord(folder, name, text)) continue;
        const std::vector<std::string> lines = CompleteLines(text);
        if (lines.empty()) {
            EngineLog(3, "%s: '%s\\%s' is incomplete and is not used", kTag, folder.path().c_str(), name);
            continue;
        }
        if (lines.size() < 3 || lines[1] != ResumeBinding()) {
            // Taken up, it would remove what the configuration now in force does not list.
            // A preview changes nothing: the list stays where it is.
            std::string fate;
            if (!previewOnly) {
                uint32_t rc = folder.Delete(kResumeOldFile);
                if (rc == 0) rc = folder.Rename(name, kResumeOldFile);
                fate = rc == 0 ? std::string("; it is kept as '") + kResumeOldFile + "'"
                               : "; it could not be set aside (" + std::to_string(rc) + ")";
            }
            EngineLog(
                3,
                "%s: '%s\\%s' was made by another configuration, other options or another version and is "
                "not used%s",
                kTag, folder.path().c_str(), name, fate.c_str());
            continue;
        }
        const Section* section = nullptr;
        for (size_t i = 2; i + 1 < lines.size(); ++i) {
            const std::string& line = lines[i];
            bool title = false;
            for (const Section& s : kSections)
                if (line == s.title) section = &s, title = true;
            if (title || section == nullptr || line.empty() || (this->*section->list).Contains(line.c_str()))
                continue;
            // Listed by a run of this tool, but what is protected now stays so.
            const char* reason = nullptr;
            if (section->kind == Kind::File)
                reason = Protected().FolderReason(line.c_str());
            else if (section->kind == Kind::Key)
                reason = Protected().KeyReason(line.c_str());
            else if (line.rfind('\\') != std::string::npos)
                reason = Protected().KeyReason(line.substr(0, line.rfind('\\')).c_str());
            if (reason != nullptr) {
                expand::LogProtectedRefusal(kTag, line.c_str(), reason);
                continue;
            }
            if ((this->*section->list).Insert(line.c_str()) == 0) ++added;
        }
    }
    if (added == 0) return;
    // What the configuration ignores now is left, as for every other entry.
    for (const Section& s : kSections) (void)ExcludeIgnoreList(this->*s.list, this->*s.ignore);
    EngineLog(3, "%s: %d objects listed by a run that did not finish are taken up again", kTag, added);
}

namespace {

// Writes `text` in full as `fresh`, then gives it the name `file`: until it has that name,
// both are read.
uint32_t Replace(guard::ToolFolder& folder, const char* file, const char* fresh, const std::string& text) {
    uint32_t rc = folder.Write(fresh, text);
    if (rc == 0) rc = folder.Delete(file);
    if (rc == 0) rc = folder.Rename(fresh, file);
    return rc;
}

}  // namespace

void CNuke::RecordUnfinishedRun() {
    guard::ToolFolder folder(os_);
    if (folder.Open() != 0) return;
    std::string text = std::string(kHeader) + "\r\n" + ResumeBinding() + "\r\n";
    for (const Section& s : kSections) {
        text += std::string(s.title) + "\r\n";
        const char* item = nullptr;
        for (uint32_t r = (this->*s.list).First(&item); r == 0; r = (this->*s.list).Next(&item))
            text += std::string(item) + "\r\n";
    }
    text += std::string(kEnd) + "\r\n";
    if (uint32_t rc = Replace(folder, kResumeFile, kResumeNewFile, text))
        EngineLog(3, "%s: what this run removes could not be kept for a run after it (%04d)", kTag,
                  static_cast<int>(rc));
}

std::vector<std::string> CNuke::StagingFoldersMade() {
    std::vector<std::string> made;
    const std::string path = guard::ToolFolderPath(os_);
    if (path.empty() || os_.fs.GetFileAttributesA(path) == platform::kInvalidFileAttributes) return made;
    guard::ToolFolder folder(os_);
    if (folder.Open() != 0) return made;
    for (const char* name : {kStagingFile, kStagingNewFile}) {
        std::string text;
        if (!ReadRecord(folder, name, text)) continue;
        const std::vector<std::string> lines = CompleteLines(text, kStagingHeader);
        if (lines.size() > 2) made.insert(made.end(), lines.begin() + 1, lines.end() - 1);
    }
    return made;
}

void CNuke::RecordStagingFolder(const std::string& made) {
    std::vector<std::string> all = StagingFoldersMade();
    all.push_back(made);
    std::string text = std::string(kStagingHeader) + "\r\n";
    for (const std::string& line : all) text += line + "\r\n";
    text += std::string(kEnd) + "\r\n";
    guard::ToolFolder folder(os_);
    uint32_t rc = folder.Open();
    if (rc == 0) rc = Replace(folder, kStagingFile, kStagingNewFile, text);
    if (rc != 0)
        EngineLog(3, "%s: staging folder '%s' could not be kept for a run after it (%04d)", kTag,
                  made.substr(0, made.find(' ')).c_str(), static_cast<int>(rc));
}

void CNuke::ForgetUnfinishedRun() {
    guard::ToolFolder folder(os_);
    if (folder.Open() != 0) return;
    for (const char* name : {kResumeNewFile, kResumeFile, kStagingNewFile, kStagingFile})
        (void)folder.Delete(name);
}

}  // namespace engine
