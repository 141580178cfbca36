// One installed Windows Installer product of a family: its code, its version, and the
// ways to remove it or hide its add/remove-programs entry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace msitool {

// The installer's command line for every removal: everything, and never a restart.
constexpr char16_t kRemoveAllCommandLine[] = u"REMOVE=ALL REBOOT=ReallySuppress";
// Where the add/remove-programs entries live; the product code follows.
constexpr char16_t kUninstallKeySpec[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Buffers the product's properties are read into, in characters with the terminator.
constexpr uint32_t kVersionStringChars = 100;
constexpr uint32_t kPathChars = 260;
// Bytes of the display name read to find out whether an entry exists.
constexpr uint32_t kDisplayNameBytes = 2000;

class Product {
  public:
    // Reads the product's "VersionString"; empty when it cannot be read.
    Product(platform::Platform& os, const std::u16string& productCode);
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;
    virtual ~Product() = default;

    virtual const std::u16string& GetProductCode() const;
    virtual const std::u16string& GetVersionString() const;
    // This product's version is strictly higher; an unreadable version counts as 0.0.0.0.
    virtual bool IsNewerThan(const Product& other) const;
    // Marks the entry a system component in each registry view that has it.
    virtual bool HideAddRemoveEntry();
    // Removes the product, through its cached package when the plain removal fails.
    virtual bool Uninstall();
    // Reads up to four numbers of the version; the missing ones are -1. False, with the
    // outputs untouched, when not even the first number can be read.
    virtual bool GetVersion(int32_t& major, int32_t& minor, int32_t& build, int32_t& revision) const;
    virtual bool UninstallFromCachedPackage();

    // The installer answered an uninstall with 1618: another installation was in progress.
    bool installerBusy = false;

  private:
    // A property that fits in `bufferChars` with its terminator; false otherwise, so that
    // a cut value is never used.
    bool ReadProperty(const char16_t* property, uint32_t bufferChars, std::u16string& out) const;

    platform::Platform& os_;
    std::u16string productCode;
    std::u16string versionString;
};

}  // namespace msitool
