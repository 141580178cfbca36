#include "platform/win32/win32_filesystem.h"

#include <io.h>

#include "platform/win32/windows_api.h"
// After windows.h: the NT calls that open and change objects relative to a held directory.
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/ansi.h"
#include "platform/win32/win32_sddl.h"

namespace platform::win32 {

namespace {
HANDLE H(uintptr_t h) { return reinterpret_cast<HANDLE>(h); }
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
uint64_t Size(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

void Convert(const WIN32_FIND_DATAA& in, FindDataA& out) {
    out.attributes = in.dwFileAttributes;
    out.size = Size(in.nFileSizeHigh, in.nFileSizeLow);
    out.name = in.cFileName;
}

uint32_t FromStatus(NTSTATUS status) { return NT_SUCCESS(status) ? 0 : ::RtlNtStatusToDosError(status); }

void Convert(const WIN32_FIND_DATAW& in, FindDataW& out) {
    out.attributes = in.dwFileAttributes;
    out.size = Size(in.nFileSizeHigh, in.nFileSizeLow);
    out.name = reinterpret_cast<const char16_t*>(in.cFileName);
}
}  // namespace

void Win32FileSystem::CloseHandle(FileHandle handle) { ::CloseHandle(H(handle)); }

bool Win32FileSystem::CreateFileW(const std::u16string& path, uint32_t access, uint32_t shareMode,
                                  const char* sddl, uint32_t disposition, uint32_t flagsAndAttributes,
                                  FileHandle& out) {
    SddlAttributes attributes;
    if (!attributes.Init(sddl)) return false;
    HANDLE h =
        ::CreateFileW(W(path), access, shareMode, attributes.get(), disposition, flagsAndAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out = reinterpret_cast<FileHandle>(h);
    return true;
}

namespace {

// The one class of information a call needs, asked of the file system alone:
// GetFileInformationByHandle also asks the volume for its serial number, which Wine answers
// slowly, at many times the cost of the file's own information, and the tool asks per file.
template <typename Info>
bool QueryFile(HANDLE handle, FILE_INFORMATION_CLASS kind, Info& info) {
    IO_STATUS_BLOCK io{};
    const uint32_t error = FromStatus(::NtQueryInformationFile(handle, &io, &info, sizeof(info), kind));
    if (error != ERROR_SUCCESS) ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

// FILE_STANDARD_INFORMATION, which winternl.h leaves out.
struct StandardInformation {
    LARGE_INTEGER allocationSize;
    LARGE_INTEGER endOfFile;
    ULONG numberOfLinks;
    BOOLEAN deletePending;
    BOOLEAN directory;
};

}  // namespace

bool Win32FileSystem::GetFileInformationByHandle(FileHandle handle, uint32_t& attributes) {
    FILE_BASIC_INFORMATION info{};
    if (!QueryFile(H(handle), FileBasicInformation, info)) return false;
    attributes = info.FileAttributes;
    return true;
}

bool Win32FileSystem::GetFileIdentity(FileHandle handle, std::string& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(H(handle), &info)) return false;
    char text[32];
    std::snprintf(
        text, sizeof(text), "%08lX-%08lX%08lX", static_cast<unsigned long>(info.dwVolumeSerialNumber),
        static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
    identity = text;
    return true;
}

bool Win32FileSystem::GetFileLinkCount(FileHandle handle, uint32_t& links) {
    StandardInformation info{};
    if (!QueryFile(H(handle), FileStandardInformation, info)) return false;
    links = info.numberOfLinks;
    return true;
}

bool Win32FileSystem::ReadFile(FileHandle handle, void* buffer, uint32_t toRead, uint32_t& read) {
    DWORD n = 0;
    BOOL ok = ::ReadFile(H(handle), buffer, toRead, &n, nullptr);
    read = n;
    return ok != FALSE;
}

bool Win32FileSystem::WriteFile(FileHandle handle, const void* data, uint32_t toWrite, uint32_t& written) {
    DWORD n = 0;
    BOOL ok = ::WriteFile(H(handle), data, toWrite, &n, nullptr);
    written = n;
    return ok != FALSE;
}

bool Win32FileSystem::SetFilePointerEx(FileHandle handle, int64_t distance, uint32_t origin,
                                       uint64_t& newPosition) {
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER now;
    now.QuadPart = 0;
    if (!::SetFilePointerEx(H(handle), move, &now, origin)) return false;
    newPosition = static_cast<uint64_t>(now.QuadPart);
    return true;
}

bool Win32FileSystem::GetFileSizeEx(FileHandle handle, uint64_t& size) {
    LARGE_INTEGER s;
    s.QuadPart = 0;
    if (!::GetFileSizeEx(H(handle), &s)) return false;
    size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

uint32_t Win32FileSystem::GetFileAttributesA(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

uint32_t Win32FileSystem::GetFileAttributesW(const std::u16string& path) {
    return ::GetFileAttributesW(W(path));
}

bool Win32FileSystem::SetFileAttributesA(const std::string& path, uint32_t attributes) {
    return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool Win32FileSystem::DeleteFileA(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool Win32FileSystem::DeleteFileW(const std::u16string& path) { return ::DeleteFileW(W(path)) != FALSE; }

bool Win32FileSystem::MoveFileExA(const std::string& from, const char* to, uint32_t flags) {
    return ::MoveFileExA(from.c_str(), to, flags) != FALSE;
}

bool Win32FileSystem::GetPendingDeletions(std::vector<std::string>& paths) {
    paths.clear();
    HKEY key = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(rc));
        return false;
    }
    // Asked for its size first, and again if it grew in between.
    std::vector<wchar_t> value;
    for (int tries = 0; tries < 4; ++tries) {
        DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        rc = ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                value.empty() ? nullptr : reinterpret_cast<BYTE*>(value.data()), &size);
        if (rc == ERROR_SUCCESS && !value.empty()) {
            value.resize(size / sizeof(wchar_t));
            break;
        }
        if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) break;
        value.assign(size / sizeof(wchar_t) + 2, L'\0');
    }
    ::RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return true;  // nothing is queued
    if (rc != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(rc));
        return false;
    }
    // Pairs of source and target, each ended by a null; a deletion's target is empty, so the
    // value is read by its size, not up to its first empty string.
    std::vector<std::u16string> entries;
    std::u16string entry;
    for (wchar_t c : value) {
        if (c != L'\0') {
            entry.push_back(static_cast<char16_t>(c));
            continue;
        }
        entries.push_back(entry);
        entry.clear();
    }
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (!entries[i + 1].empty() || entries[i].empty()) continue;
        std::u16string from = entries[i];
        if (from.compare(0, 4, u"\\??\\") == 0) from.erase(0, 4);
        paths.push_back(Utf16ToAnsi(from));
    }
    return true;
}

bool Win32FileSystem::MoveFileExW(const std::u16string& from, const char16_t* to, uint32_t flags) {
    return ::MoveFileExW(W(from), reinterpret_cast<const wchar_t*>(to), flags) != FALSE;
}

bool Win32FileSystem::CreateDirectoryA(const std::string& path, const char* sddl) {
    SddlAttributes attributes;
    if (!attributes.Init(sddl)) return false;
    return ::CreateDirectoryA(path.c_str(), attributes.get()) != FALSE;
}

bool Win32FileSystem::CreateDirectoryW(const std::u16string& path, const char* sddl) {
    SddlAttributes attributes;
    if (!attributes.Init(sddl)) return false;
    return ::CreateDirectoryW(W(path), attributes.get()) != FALSE;
}

bool Win32FileSystem::RemoveDirectoryA(const std::string& path) {
    return ::RemoveDirectoryA(path.c_str()) != FALSE;
}

bool Win32FileSystem::FindFirstFileA(const std::string& pattern, FindDataA& data, FindHandle& out) {
    WIN32_FIND_DATAA found{};
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    Convert(found, data);
    out = reinterpret_cast<FindHandle>(h);
    return true;
}

bool Win32FileSystem::FindNextFileA(FindHandle handle, FindDataA& data) {
    WIN32_FIND_DATAA found{};
    if (!::FindNextFileA(H(handle), &found)) return false;
    Convert(found, data);
    return true;
}

bool Win32FileSystem::FindFirstFileW(const std::u16string& pattern, FindDataW& data, FindHandle& out) {
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileW(W(pattern), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    Convert(found, data);
    out = reinterpret_cast<FindHandle>(h);
    return true;
}

bool Win32FileSystem::FindNextFileW(FindHandle handle, FindDataW& data) {
    WIN32_FIND_DATAW found{};
    if (!::FindNextFileW(H(handle), &found)) return false;
    Convert(found, data);
    return true;
}

void Win32FileSystem::FindClose(FindHandle handle) { ::FindClose(H(handle)); }

int Win32FileSystem::Access(const std::string& path, int mode) { return ::_access(path.c_str(), mode); }

uint32_t Win32FileSystem::ReadWholeFile(const std::string& path, std::string& bytes) {
    HANDLE h =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    std::string contents;
    char chunk[4096];
    uint32_t result = 0;
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, chunk, sizeof(chunk), &n, nullptr)) {
            result = ::GetLastError();
            break;
        }
        if (n == 0) break;
        contents.append(chunk, n);
    }
    ::CloseHandle(h);
    if (result == 0) bytes = std::move(contents);
    return result;
}

}  // namespace platform::win32

namespace platform::win32 {

uint32_t Win32FileSystem::GetTempPathW(uint32_t bufferChars, std::u16string& out) {
    // The temporary path is at most MAX_PATH + 1 characters; a larger buffer gains nothing.
    const DWORD size = bufferChars < 32768 ? bufferChars : 32768;
    std::vector<wchar_t> buffer(size + 1, L'\0');
    DWORD n = ::GetTempPathW(size, size == 0 ? nullptr : buffer.data());
    if (n == 0 || n >= size) return n;
    out.assign(reinterpret_cast<const char16_t*>(buffer.data()), n);
    return n;
}

bool Win32FileSystem::CopyFileW(const std::u16string& from, const std::u16string& to, bool failIfExists) {
    return ::CopyFileW(W(from), W(to), failIfExists ? TRUE : FALSE) != FALSE;
}

uint32_t Win32FileSystem::GetLogicalDriveStrings(uint32_t bufferChars, std::string& out) {
    // 26 drives of four characters and the final NUL fill at most 105; a larger buffer
    // is handed over as this much.
    constexpr uint32_t kMaxChars = 4096;
    const uint32_t size = bufferChars < kMaxChars ? bufferChars : kMaxChars;
    std::vector<char> buffer(size + 1u, '\0');
    DWORD length = ::GetLogicalDriveStringsA(size, buffer.data());
    if (length == 0 || length > size) return length;
    out.assign(buffer.data(), length);
    return length;
}

uint32_t Win32FileSystem::GetDriveType(const std::string& root) { return ::GetDriveTypeA(root.c_str()); }

uint32_t Win32FileSystem::GetVolumeFileSystem(FileHandle file, std::string& name) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(H(file), nullptr, 0, nullptr, nullptr, nullptr, buffer,
                                         MAX_PATH + 1))
        return ::GetLastError();
    // File system names are ASCII.
    name.clear();
    for (const wchar_t* c = buffer; *c != L'\0'; ++c) name.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    return 0;
}

}  // namespace platform::win32

namespace platform::win32 {

namespace {
// UNICODE_STRING counts bytes in 16 bits: a longer name would wrap round to a shorter,
// different one.
constexpr size_t kMaxNameChars = 0x7FFF;

// One name inside a held directory. Anything that could climb out of it, reach another
// path or a stream, or be cut short by the kernel is refused before the kernel sees it.
bool IsOneComponent(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (char16_t c : name)
        if (c == u'\\' || c == u'/' || c == u':' || c == u'\0') return false;
    return true;
}

bool IsDriveRoot(const std::u16string& name) {
    if (name.size() != 3 || name[1] != u':' || name[2] != u'\\') return false;
    const char16_t letter = static_cast<char16_t>(name[0] | 0x20);
    return letter >= u'a' && letter <= u'z';
}

bool NtDisposition(uint32_t disposition, ULONG& out) {
    switch (disposition) {
        case kCreateNew:
            out = FILE_CREATE;
            return true;
        case kCreateAlways:
            out = FILE_OVERWRITE_IF;
            return true;
        case kOpenExisting:
            out = FILE_OPEN;
            return true;
        case kOpenAlways:
            out = FILE_OPEN_IF;
            return true;
        case kTruncateExisting:
            out = FILE_OVERWRITE;
            return true;
        default:
            return false;
    }
}
}  // namespace

uint32_t Win32FileSystem::OpenRelative(FileHandle parent, const std::u16string& name, uint32_t access,
                                       uint32_t shareMode, uint32_t disposition, uint32_t kind,
                                       const char* sddl, FileHandle& out) {
    if (parent == 0 ? !IsDriveRoot(name) : !IsOneComponent(name)) return ERROR_INVALID_NAME;
    if (name.size() > kMaxNameChars) return ERROR_FILENAME_EXCED_RANGE;
    ULONG ntDisposition = 0;
    if (!NtDisposition(disposition, ntDisposition)) return ERROR_INVALID_PARAMETER;
    // Synchronous I/O, as CreateFileW opens without FILE_FLAG_OVERLAPPED, so that ReadFile
    // and WriteFile work on the handle; backup intent, as kFileFlagBackupSemantics.
    ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    switch (kind) {
        case kOpenAnyObject:
            break;
        case kOpenDirectoryOnly:
            options |= FILE_DIRECTORY_FILE;
            break;
        case kOpenFileOnly:
            options |= FILE_NON_DIRECTORY_FILE;
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    SddlAttributes security;
    if (!security.Init(sddl)) return ::GetLastError();

    // With no handle, the name is the drive's NT path: "\??\C:\" is its root directory.
    const std::u16string path = parent == 0 ? u"\\??\\" + name : name;
    UNICODE_STRING ntName;
    ntName.Buffer = const_cast<PWSTR>(W(path));
    ntName.Length = ntName.MaximumLength = static_cast<USHORT>(path.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ntName, OBJ_CASE_INSENSITIVE, H(parent),
                               security.get() ? security.get()->lpSecurityDescriptor : nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    const NTSTATUS status =
        ::NtCreateFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, shareMode,
                       ntDisposition, options, nullptr, 0);
    if (!NT_SUCCESS(status)) return ::RtlNtStatusToDosError(status);
    out = reinterpret_cast<FileHandle>(h);
    return 0;
}

uint32_t Win32FileSystem::RenameByHandle(FileHandle file, FileHandle newParent,
                                         const std::u16string& newName) {
    if (!IsOneComponent(newName)) return ERROR_INVALID_NAME;
    if (newName.size() > kMaxNameChars) return ERROR_FILENAME_EXCED_RANGE;
    // Without a directory handle the kernel would read the name beside the object's current
    // one, wherever that now is.
    if (newParent == 0) return ERROR_INVALID_HANDLE;
    const size_t nameBytes = newName.size() * sizeof(wchar_t);
    // The kernel refuses a buffer shorter than the structure, even for a one-letter name.
    const size_t size =
        std::max(sizeof(FILE_RENAME_INFORMATION), offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes);
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = H(newParent);
    info->FileNameLength = static_cast<ULONG>(nameBytes);
    std::memcpy(info->FileName, newName.data(), nameBytes);
    IO_STATUS_BLOCK io{};
    return FromStatus(
        ::NtSetInformationFile(H(file), &io, info, static_cast<ULONG>(size), FileRenameInformation));
}

uint32_t Win32FileSystem::DeleteByHandle(FileHandle file) {
    FILE_DISPOSITION_INFORMATION info{};
    info.DoDeleteFile = TRUE;
    IO_STATUS_BLOCK io{};
    return FromStatus(::NtSetInformationFile(H(file), &io, &info, sizeof(info), FileDispositionInformation));
}

uint32_t Win32FileSystem::SetAttributesByHandle(FileHandle file, uint32_t attributes) {
    // Zero times leave the times as they are; zero attributes would leave the attributes too,
    // so "none" travels as FILE_ATTRIBUTE_NORMAL, as SetFileAttributes sends it.
    FILE_BASIC_INFORMATION info{};
    info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK io{};
    return FromStatus(::NtSetInformationFile(H(file), &io, &info, sizeof(info), FileBasicInformation));
}

bool Win32FileSystem::FlushFileBuffers(FileHandle file) { return ::FlushFileBuffers(H(file)) != FALSE; }

}  // namespace platform::win32
