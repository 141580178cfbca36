#include "logging/file_low_level.h"

#include "guard/held_path.h"

namespace KvQmrLogging {

namespace {
constexpr unsigned char kByteOrderMark[2] = {0xFF, 0xFE};
}

FileLowLevel::~FileLowLevel() { Close(); }

bool FileLowLevel::Open(platform::FileHandle folder, const std::u16string& name, const char* sddl) {
    lacksMark_ = false;
    openedLink_ = false;
    if (IsOpen()) return false;
    platform::FileHandle handle = 0;
    // Everyone may write into the shared log folder, so the name may have been made a link
    // to some file of the system's: open whatever bears the name as itself, and look at what
    // the handle holds, which no later swap of the name can change.
    if (os_.fs.OpenRelative(folder, name, platform::kGenericRead | platform::kGenericWrite,
                            platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
                            platform::kOpenAlways, platform::kOpenFileOnly, sddl,
                            handle) != platform::kErrorSuccess)
        return false;
    platform::UniqueFile opened(&os_.fs, handle);
    uint32_t attributes = 0;
    if (!os_.fs.GetFileInformationByHandle(opened.get(), attributes)) return false;
    // A second name of a file is as much a way into it as a link: the records would land in
    // whatever file a user linked there.
    uint32_t single = platform::kErrorSuccess;
    if ((attributes & platform::kFileAttributeReparsePoint) != 0 ||
        (single = guard::CheckSingleName(os_, opened.get())) == guard::kErrorHardLinked) {
        openedLink_ = true;
        return false;
    }
    if (single != platform::kErrorSuccess) return false;
    handle_ = opened.release();
    if (!ReadHeader()) {
        Close();
        return false;
    }
    return true;
}

void FileLowLevel::Close() {
    if (!IsOpen()) return;
    os_.fs.CloseHandle(handle_);
    handle_ = 0;
    size_ = 0;
    lacksMark_ = false;
}

bool FileLowLevel::Write(const void* bytes, uint32_t count) {
    if (!IsOpen()) return false;
    uint32_t written = 0;
    if (!os_.fs.WriteFile(handle_, bytes, count, written)) written = 0;
    size_ += written;
    return true;
}

bool FileLowLevel::SeekToEnd() {
    if (!IsOpen()) return false;
    uint64_t position = 0;
    if (!os_.fs.SetFilePointerEx(handle_, 0, platform::kFileEnd, position)) return false;
    size_ = position;
    return true;
}

bool FileLowLevel::ReadHeader() {
    unsigned char header[2] = {0, 0};
    uint32_t read = 0;
    uint64_t position = 0;
    bool ok = os_.fs.SetFilePointerEx(handle_, 0, platform::kFileBegin, position) &&
              os_.fs.ReadFile(handle_, header, sizeof(header), read);
    lacksMark_ = !(ok && read == 2 && header[0] == kByteOrderMark[0] && header[1] == kByteOrderMark[1]);
    if (!SeekToEnd()) return false;
    if (size_ == 0) {
        Write(kByteOrderMark, sizeof(kByteOrderMark));
        lacksMark_ = false;
    }
    return true;
}

}  // namespace KvQmrLogging
