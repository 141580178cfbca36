// One log file handle: the UTF-16LE byte-order mark at its start and its size as last known.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace KvQmrLogging {

class FileLowLevel {
  public:
    explicit FileLowLevel(platform::Platform& os) : os_(os) {}
    FileLowLevel(const FileLowLevel&) = delete;
    FileLowLevel& operator=(const FileLowLevel&) = delete;
    virtual ~FileLowLevel();

    // Opens or creates the file `name` inside the held folder `folder` for reading and
    // writing, shared with every other writer (read, write and delete sharing), and checks
    // its header. False when it was already open or the file cannot be opened or positioned.
    // A link at the name is opened as itself, never followed, and refused, and so is a file
    // with more than one name (OpenedLink tells).
    virtual bool Open(platform::FileHandle folder, const std::u16string& name, const char* sddl);
    virtual void Close();
    // Appends at the file pointer. False only when the file is not open: a failed write is
    // not reported, and the size advances by what was written.
    virtual bool Write(const void* bytes, uint32_t count);
    virtual uint64_t GetSize() const { return size_; }
    // Moves to the end; the size becomes the end, which other processes may have moved.
    virtual bool SeekToEnd();
    // The file does not begin with FF FE.
    virtual bool LacksMark() const { return lacksMark_; }
    virtual bool IsOpen() const { return handle_ != 0; }
    // Reads the first two bytes, seeks to the end and gives an empty file its mark.
    virtual bool ReadHeader();
    // The last Open failed because the name is a link (a symbolic link, junction or mount
    // point) or one of several names of a file (a hard link).
    virtual bool OpenedLink() const { return openedLink_; }

  private:
    platform::Platform& os_;
    uint64_t size_ = 0;
    platform::FileHandle handle_ = 0;
    bool lacksMark_ = false;
    bool openedLink_ = false;
};

}  // namespace KvQmrLogging
