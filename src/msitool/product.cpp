#include "msitool/product.h"

#include <new>
#include <vector>

#include "guard/held_path.h"
#include "msitool/reg_spec.h"
#include "msitool/wide_text.h"
#include "platform/ansi.h"

namespace msitool {
namespace {

// Reads "%d.%d...%d" with `count` numbers as swscanf does: true only when all of them convert.
bool ScanVersion(const std::u16string& text, int count, int32_t (&numbers)[4]) {
    size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != u'.') return false;
            ++pos;
        }
        if (!ScanDecimal(text, pos, numbers[i])) return false;
    }
    return true;
}

// The start of the name of the folder the cached package is copied into.
constexpr char kCopyFolderPrefix[] = "SweepTool.Package.";

// A package name is a plain file name: anything that could lead the temporary copy, and
// its deletion, out of the temporary folder is refused.
bool IsPlainFileName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    return name.find_first_of(u"\\/:") == std::u16string::npos;
}

}  // namespace

Product::Product(platform::Platform& os, const std::u16string& code) : os_(os), productCode(code) {
    if (!ReadProperty(u"VersionString", kVersionStringChars, versionString)) versionString.clear();
}

const std::u16string& Product::GetProductCode() const { return productCode; }

const std::u16string& Product::GetVersionString() const { return versionString; }

bool Product::ReadProperty(const char16_t* property, uint32_t bufferChars, std::u16string& out) const {
    std::vector<char16_t> buffer(bufferChars, u'\0');
    uint32_t chars = bufferChars;
    if (os_.msi.GetProductInfo(productCode, property, buffer.data(), &chars) != platform::kErrorSuccess)
        return false;
    if (chars >= bufferChars) return false;
    size_t length = 0;
    while (length < chars && buffer[length] != u'\0') ++length;
    out.assign(buffer.data(), length);
    return true;
}

bool Product::GetVersion(int32_t& major, int32_t& minor, int32_t& build, int32_t& revision) const {
    try {
        std::u16string text = TrimBlanks(versionString);
        for (int count = 4; count >= 1; --count) {
            int32_t numbers[4] = {-1, -1, -1, -1};
            if (!ScanVersion(text, count, numbers)) continue;
            major = numbers[0];
            minor = numbers[1];
            build = numbers[2];
            revision = numbers[3];
            return true;
        }
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool Product::IsNewerThan(const Product& other) const {
    int32_t mine[4] = {0, 0, 0, 0};
    int32_t theirs[4] = {0, 0, 0, 0};
    (void)GetVersion(mine[0], mine[1], mine[2], mine[3]);
    (void)other.GetVersion(theirs[0], theirs[1], theirs[2], theirs[3]);
    for (int i = 0; i < 4; ++i)
        if (mine[i] != theirs[i]) return mine[i] > theirs[i];
    return false;
}

bool Product::HideAddRemoveEntry() {
    const std::u16string key = kUninstallKeySpec + productCode;
    bool written = false;
    for (uint32_t view : {kRegSpecView32, kRegSpecView64}) {
        uint8_t displayName[kDisplayNameBytes];
        uint32_t size = sizeof displayName;
        if (ReadRegSpec(os_.reg, displayName, &size, key + u"\\\\DisplayName", view) != kRegSpecOk) continue;
        if (WriteRegSpec(os_.reg, key + u"\\\\SystemComponent|1", true, platform::kRegDword, view) ==
            kRegSpecOk)
            written = true;
    }
    return written;
}

bool Product::Uninstall() {
    uint32_t rc = os_.msi.ConfigureProductEx(productCode, platform::kInstallLevelMaximum,
                                             platform::kInstallStateAbsent, kRemoveAllCommandLine);
    if (rc == platform::kErrorSuccess) return true;
    // The cached package would meet the same busy installer.
    if (rc == platform::kErrorInstallAlreadyRunning) {
        installerBusy = true;
        return false;
    }
    return UninstallFromCachedPackage();
}

bool Product::UninstallFromCachedPackage() {
    std::u16string localPackage;
    std::u16string packageName;
    if (!ReadProperty(u"LocalPackage", kPathChars, localPackage)) return false;
    if (!ReadProperty(u"PackageName", kPathChars, packageName)) return false;
    if (!IsPlainFileName(packageName)) return false;

    std::u16string tempPath;
    uint32_t length = os_.fs.GetTempPathW(kPathChars, tempPath);
    if (length == 0 || length >= kPathChars || tempPath.empty() || tempPath.size() >= kPathChars)
        return false;
    if (tempPath.back() != u'\\') tempPath.push_back(u'\\');

    // The temporary folder of a run as SYSTEM is one where users make files: the copy goes
    // into a new folder of its own there, with an unguessable name and only Administrators
    // and SYSTEM let in, held so that nobody can rename it meanwhile.
    const std::string tempFolder = platform::Utf16ToAnsi(tempPath);
    if (platform::AnsiToUtf16(tempFolder) != tempPath) return false;
    guard::HeldPath held(os_);
    if (held.HoldParentsOf(tempFolder + kCopyFolderPrefix) != 0) return false;
    platform::UniqueFile folder;
    std::string folderName;
    if (guard::MakeFreshAdministratorsFolder(os_, held.Parent(), kCopyFolderPrefix, platform::kDeleteAccess,
                                             folder, folderName) != 0)
        return false;
    const std::u16string folderPath = tempPath + platform::AnsiToUtf16(folderName);
    // A name cut to fit would be another file: give up instead.
    bool removed = false;
    if (folderPath.size() + 1 + packageName.size() < kPathChars) {
        const std::u16string copyPath = folderPath + u"\\" + packageName;
        if (os_.fs.CopyFileW(localPackage, copyPath, true)) {
            removed = os_.msi.InstallProduct(copyPath, kRemoveAllCommandLine) == platform::kErrorSuccess;
            (void)os_.fs.DeleteFileW(copyPath);
        }
    }
    (void)os_.fs.DeleteByHandle(folder.get());
    return removed;
}

}  // namespace msitool
