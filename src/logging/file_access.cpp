#include "logging/file_access.h"

#include "logging/log_settings.h"
#include "logging/wide_format.h"

namespace KvQmrLogging {

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

std::u16string DirectoryOf(const std::u16string& path) {
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

FileAccessBase::FileAccessBase(platform::Platform& os, const char16_t* product, const char16_t* component,
                               std::unique_ptr<FileLowLevel> file, std::unique_ptr<FileUtils> utils,
                               bool perUser)
    : os_(os), file_(std::move(file)), utils_(std::move(utils)), perUser_(perUser) {
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
    if (!path_) return false;
    CreateLogDirectory();
    return file_->Open(*path_, sddl_);
}

bool FileAccessBase::NeedsRotation() { return file_->LacksMark() || file_->GetSize() > maxSize_; }

void FileAccessBase::Rotate() {
    if (!path_) return;
    file_->Close();
    if (rotateCount_ == 0) {
        DeleteLogFile(*path_);
        file_->Open(*path_, sddl_);
        return;
    }
    for (uint32_t k = rotateCount_ + 1; k-- > 0;) {
        std::u16string older = RotatedName(*path_, k);
        if (!utils_->FileExists(older)) continue;
        if (k == rotateCount_)
            DeleteLogFile(older);
        else
            utils_->FileRename(older, RotatedName(*path_, k + 1));
    }
    file_->Open(*path_, sddl_);
}

bool FileAccessBase::MakeDeleteName(char16_t* out, size_t length, const std::u16string& path) {
    if (out == nullptr || length == 0) return false;
    out[0] = 0;
    for (int n = 1; n <= kDeleteNameCount; ++n) {
        int needed = FormatW(out, length, u"%s__delete_%d", path.c_str(), n);
        if (needed < 0 || static_cast<size_t>(needed) >= length) {
            out[0] = 0;
            return false;
        }
        if (n == kDeleteNameCount || !utils_->FileExists(out)) return true;
    }
    return true;
}

bool FileAccessBase::CreateLogDirectory() {
    if (!path_) return false;
    std::u16string directory = DirectoryOf(*path_);
    if (perUser_) return utils_->CreateDirectoryTree(directory, nullptr);
    if (utils_->DirectoryExists(directory)) return true;
    std::u16string base;
    if (!ResolveBaseDirectory(os_, perUser_, base)) return false;
    // The base folder may hold other products' folders: it keeps default security; only
    // the folders below it get the log's access list.
    utils_->CreateDirectoryTree(base, nullptr);
    return utils_->CreateDirectoryTree(directory, sddl_);
}

FileAccessContinuous::~FileAccessContinuous() { file_->Close(); }

void FileAccessContinuous::Write(const void* bytes, uint32_t count) {
    EnsureOpen();
    // Checked before the write, so a file may exceed the maximum by one record.
    if (NeedsRotation()) Rotate();
    file_->Write(bytes, count);
}

bool FileAccessContinuous::DeleteLogFile(const std::u16string& path) { return utils_->FileDelete(path); }

FileAccessTransient::~FileAccessTransient() { file_->Close(); }

void FileAccessTransient::Write(const void* bytes, uint32_t count) {
    uint32_t wait = mutex_ ? os_.sync.WaitForSingleObject(mutex_.get(), kMutexWaitMs) : platform::kWaitFailed;
    // An abandoned mutex means its owner died: the file is still whole record by record.
    if (wait != platform::kWaitObject0 && wait != platform::kWaitAbandoned) {
        DebugTrace(os_.sys,
                   u"kv_qmr_log!FileAccessTransient::Write(): Failed to acquire file mutex, error=%lu\n",
                   static_cast<unsigned long>(wait));
        return;
    }
    EnsureOpen();
    file_->SeekToEnd();
    if (NeedsRotation()) {
        // Another process may have rotated the log, leaving this handle on a file that now
        // bears an old generation's name: the fresh file may need no rotation at all.
        file_->Close();
        if (path_) file_->Open(*path_, sddl_);
        if (NeedsRotation()) Rotate();
    }
    file_->Write(bytes, count);
    os_.sync.ReleaseMutex(mutex_.get());
}

bool FileAccessTransient::DeleteLogFile(const std::u16string& path) {
    std::u16string name(path.size() + 30, u'\0');
    if (MakeDeleteName(&name[0], name.size(), path)) {
        name.resize(WideLength(name.c_str()));
        if (utils_->FileRename(path, name)) return utils_->FileDelete(name);
    }
    return utils_->FileDelete(path);
}

}  // namespace KvQmrLogging
