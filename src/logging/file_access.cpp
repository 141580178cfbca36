#include "logging/file_access.h"

#include <algorithm>

#include "logging/log_settings.h"
#include "logging/wide_format.h"
#include "platform/ansi.h"

namespace KvQmrLogging {

namespace {

// Holds a mutex that was waited for, and releases it when the scope ends.
class MutexHold {
  public:
    MutexHold(platform::ISync& sync, platform::SyncHandle handle) : sync_(sync), handle_(handle) {}
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    ~MutexHold() { (void)sync_.ReleaseMutex(handle_); }

  private:
    platform::ISync& sync_;
    platform::SyncHandle handle_;
};

}  // namespace

std::u16string BuildLogPath(const std::u16string& base, const std::u16string& product,
                            const std::u16string& component) {
    return base + u"\\Logs\\" + product + u"\\" + component + u".log";
}

std::u16string RotatedName(const std::u16string& path, uint32_t generation) {
    if (generation == 0) return path;
    std::u16string number;
    for (uint32_t v = generation; v != 0; v /= 10)
        number.insert(number.begin(), static_cast<char16_t>(u'0' + v % 10));
    size_t dot = path.find_last_of(u'.');
    size_t slash = path.find_last_of(u'\\');
    // A dot in a folder name is no extension.
    if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash))
        return path + u"." + number;
    return path.substr(0, dot) + u"." + number + path.substr(dot);
}

std::u16string MutexName(const std::u16string& path) {
    std::u16string name = u"Global\\KvQmrLogging_" + path;
    for (size_t i = sizeof("Global\\") - 1; i < name.size(); ++i)
        if (name[i] == u'\\') name[i] = u'_';
    return name;
}

FileAccessBase::FileAccessBase(platform::Platform& os, const char16_t* product, const char16_t* component,
                               std::unique_ptr<FileLowLevel> file, std::unique_ptr<FileUtils> utils,
                               bool perUser)
    : os_(os), file_(std::move(file)), utils_(std::move(utils)), perUser_(perUser), held_(os) {
    const char16_t* name = product != nullptr ? product : kMiscProduct;
    if (component == nullptr) component = u"";

    rotateCount_ = ReadLoggingSetting(os_, u"LogRotateCount", name, component, kDefaultRotateCount);
    if (rotateCount_ > kMaxRotateCount) rotateCount_ = kMaxRotateCount;
    // Computed in 32 bits on purpose: stored files and other writers of the same log agree on it.
    maxSize_ = ReadLoggingSetting(os_, u"LogMaxSizeKB", name, component, kDefaultMaxSizeKB) * 1024u;
    if (maxSize_ < kMinMaxSize) maxSize_ = kMinMaxSize;

    std::u16string base;
    if (ResolveBaseDirectory(os_, perUser_, base)) {
        path_ = BuildLogPath(base, name, component);
        OpenMutex(MutexName(*path_));
        // The held chain takes names in the ANSI code page: a path that does not come back
        // unchanged from it would be held as another one.
        std::string ansi = platform::Utf16ToAnsi(*path_);
        std::u16string back;
        if (platform::AnsiToUtf16(ansi.data(), ansi.size(), back) && back == *path_) {
            ansiPath_ = ansi;
            keepDefault_ = static_cast<size_t>(std::count(base.begin(), base.end(), u'\\'));
        } else {
            DebugTrace(
                os_.sys,
                u"kv_qmr_log!FileAccessBase: '%s' has no name in the ANSI code page: no log is written by "
                u"this process\n",
                path_->c_str());
        }
    }
    if (!perUser_) sddl_ = kLogFolderSddl;
}

FileAccessBase::~FileAccessBase() = default;

void FileAccessBase::OpenMutex(const std::u16string& name) {
    platform::SyncHandle handle = 0;
    if (!os_.sync.CreateMutexW(kLogMutexSddl, false, name, handle)) {
        handle = 0;
        // The mutex exists with an access list that grants this process less than full access.
        if (os_.sys.GetLastError() == platform::kErrorAccessDenied &&
            !os_.sync.OpenMutexW(platform::kSynchronize, false, name, handle))
            handle = 0;
    }
    if (handle == 0) {
        DebugTrace(os_.sys, u"Failed to open mutex '%s': Win32 error: %lu", name.c_str(),
                   static_cast<unsigned long>(os_.sys.GetLastError()));
        return;
    }
    mutex_.reset(&os_.sync, handle);
}

bool FileAccessBase::EnsureOpen() {
    if (file_->IsOpen()) return true;
    return OpenFile();
}

bool FileAccessBase::OpenFile() { return HoldLogFolder() && OpenInHeldFolder(); }

bool FileAccessBase::OpenInHeldFolder() {
    if (!path_ || linkRefused_ || held_.Parent() == 0) return false;
    if (file_->Open(held_.Parent(), LeafOf(*path_), sddl_)) return true;
    if (file_->OpenedLink()) RefuseLink(*path_);
    return false;
}

bool FileAccessBase::HoldLogFolder() {
    if (!path_ || linkRefused_ || ansiPath_.empty()) return false;
    // Held afresh at every opening: what a user changed while nothing was held is met again.
    held_.Release();
    std::string link;
    uint32_t rc = held_.HoldParentsOf(ansiPath_, &link);
    if (rc == platform::kErrorFileNotFound || rc == platform::kErrorPathNotFound) return CreateLogDirectory();
    if (rc == guard::kErrorStoppedOnSymlink) RefuseLink(platform::AnsiToUtf16(link));
    return rc == platform::kErrorSuccess;
}

platform::FileHandle FileAccessBase::Folder() {
    if (held_.Parent() == 0 && !HoldLogFolder()) return 0;
    return held_.Parent();
}

bool FileAccessBase::Settled(uint32_t rc, const std::u16string& path) {
    if (rc == guard::kErrorStoppedOnSymlink || rc == guard::kErrorHardLinked) RefuseLink(path);
    return rc == platform::kErrorSuccess;
}

void FileAccessBase::RefuseLink(const std::u16string& link) {
    if (linkRefused_) return;
    linkRefused_ = true;
    file_->Close();
    held_.Release();
    DebugTrace(os_.sys, u"kv_qmr_log!FileAccessBase: '%s' is a link: no log is written by this process\n",
               link.c_str());
}

bool FileAccessBase::NeedsRotation() { return file_->LacksMark() || file_->GetSize() > maxSize_; }

void FileAccessBase::Rotate() {
    if (!path_ || linkRefused_) return;
    file_->Close();
    if (!HoldLogFolder()) return;
    const platform::FileHandle folder = held_.Parent();
    // Every generation is looked at before any is touched, so that a link refuses the log
    // with nothing renamed; each is checked again on the handle that changes it.
    for (uint32_t k = 0; k <= rotateCount_; ++k) {
        std::u16string name = RotatedName(*path_, k);
        platform::UniqueFile entry;
        uint32_t rc = utils_->OpenEntry(folder, name, 0, entry);
        if (rc == guard::kErrorStoppedOnSymlink || rc == guard::kErrorHardLinked) {
            RefuseLink(name);
            return;
        }
    }
    if (rotateCount_ == 0) {
        DeleteLogFile(*path_);
        OpenInHeldFolder();
        return;
    }
    for (uint32_t k = rotateCount_ + 1; k-- > 0 && !linkRefused_;) {
        std::u16string older = RotatedName(*path_, k);
        if (!utils_->FileExists(folder, older)) continue;
        if (k == rotateCount_)
            DeleteLogFile(older);
        else
            Settled(utils_->FileRename(folder, older, RotatedName(*path_, k + 1)), older);
    }
    OpenInHeldFolder();
}

bool FileAccessBase::MakeDeleteName(char16_t* out, size_t length, const std::u16string& path) {
    if (out == nullptr || length == 0) return false;
    out[0] = 0;
    const platform::FileHandle folder = Folder();
    for (int n = 1; n <= kDeleteNameCount; ++n) {
        int needed = FormatW(out, length, u"%s__delete_%d", path.c_str(), n);
        if (needed < 0 || static_cast<size_t>(needed) >= length) {
            out[0] = 0;
            return false;
        }
        if (n == kDeleteNameCount || !utils_->FileExists(folder, out)) return true;
    }
    return true;
}

bool FileAccessBase::CreateLogDirectory() {
    if (!path_ || linkRefused_ || ansiPath_.empty()) return false;
    const std::string folder = ansiPath_.substr(0, ansiPath_.find_last_of('\\'));
    // The base folder may hold other products' folders: it keeps default security; only
    // the folders below it get the log's access list.
    uint32_t rc = held_.HoldFolder(folder, true, sddl_, keepDefault_);
    if (rc == guard::kErrorStoppedOnSymlink) {
        // Walked again without making anything, to name the link in the trace.
        std::string link;
        if (held_.HoldParentsOf(ansiPath_, &link) != guard::kErrorStoppedOnSymlink) link = folder;
        held_.Release();
        RefuseLink(platform::AnsiToUtf16(link));
    }
    return rc == platform::kErrorSuccess;
}

FileAccessContinuous::~FileAccessContinuous() { file_->Close(); }

void FileAccessContinuous::Write(const void* bytes, uint32_t count) {
    if (linkRefused_) return;
    EnsureOpen();
    // Checked before the write, so a file may exceed the maximum by one record.
    if (NeedsRotation()) Rotate();
    file_->Write(bytes, count);
}

bool FileAccessContinuous::DeleteLogFile(const std::u16string& path) {
    const platform::FileHandle folder = Folder();
    return folder != 0 && Settled(utils_->FileDelete(folder, path), path);
}

FileAccessTransient::~FileAccessTransient() { file_->Close(); }

void FileAccessTransient::Write(const void* bytes, uint32_t count) {
    if (linkRefused_) return;
    uint32_t wait = mutex_ ? os_.sync.WaitForSingleObject(mutex_.get(), kMutexWaitMs) : platform::kWaitFailed;
    // An abandoned mutex means its owner died: the file is still whole record by record.
    if (wait != platform::kWaitObject0 && wait != platform::kWaitAbandoned) {
        DebugTrace(os_.sys,
                   u"kv_qmr_log!FileAccessTransient::Write(): Failed to acquire file mutex, error=%lu\n",
                   static_cast<unsigned long>(wait));
        return;
    }
    // Every other writer of the log waits on this mutex: it is released on every way out,
    // an exception included.
    MutexHold hold(os_.sync, mutex_.get());
    if (!EnsureOpen()) return;
    file_->SeekToEnd();
    if (NeedsRotation()) {
        // Another process may have rotated the log, leaving this handle on a file that now
        // bears an old generation's name: the fresh file may need no rotation at all.
        file_->Close();
        OpenFile();
        if (NeedsRotation()) Rotate();
    }
    file_->Write(bytes, count);
}

bool FileAccessTransient::DeleteLogFile(const std::u16string& path) {
    std::u16string name(path.size() + 30, u'\0');
    const platform::FileHandle folder = Folder();
    if (folder == 0) return false;
    if (MakeDeleteName(&name[0], name.size(), path)) {
        name.resize(WideLength(name.c_str()));
        uint32_t rc = utils_->FileRename(folder, path, name);
        if (rc == platform::kErrorSuccess) return Settled(utils_->FileDelete(folder, name), name);
        Settled(rc, path);
        if (linkRefused_) return false;
    }
    return Settled(utils_->FileDelete(folder, path), path);
}

}  // namespace KvQmrLogging
