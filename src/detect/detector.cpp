#include "detect/detector.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "expand/path_helpers.h"
#include "expand/registry_trust.h"
#include "guard/held_path.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"

namespace detect {

using engine::EngineLog;
using namespace platform;

namespace {

constexpr char kAgentKey[] = "SOFTWARE\\Kelvaris\\Aurel Agent";
constexpr char kPlxKey[] = "SOFTWARE\\Tessel Works\\Kelvaris\\PLX";
constexpr char kVendorKey[] = "SOFTWARE\\Tessel Works\\Kelvaris";
constexpr char kDiskSealerKey[] = "SOFTWARE\\Tessel Works\\Kelvaris\\DiskSealer";
constexpr char kTunnelPlusKey[] = "SOFTWARE\\Tessel Works\\Kelvaris\\TunnelPlus";
constexpr char kShellClientKey[] = "SOFTWARE\\Kelvaris Corporation\\Kelvaris Shell Client";

constexpr char kDiskSealer[] = "Kelvaris Disk Sealer\n";
constexpr char kTunnelPlus[] = "Kelvaris Tunnel+\n";
constexpr char kShellClient[] = "Kelvaris Shell Client\n";
// The same names as a record gives them.
constexpr char kDiskSealerName[] = "Kelvaris Disk Sealer";
constexpr char kTunnelPlusName[] = "Kelvaris Tunnel+";
constexpr char kShellClientName[] = "Kelvaris Shell Client";

constexpr uint32_t kErrorAppWrongOs = 1151;
constexpr uint32_t kTh32csSnapAll = 0x0000000F;
// Kernel, file-system and recogniser drivers, own-process and shared-process services.
constexpr uint32_t kScannedServiceTypes = 0x3B;

constexpr uint32_t kNameBufferBytes = 1024;
constexpr uint32_t kModulePathChars = 2048;
// The first read of a root folder value; a longer value is read again at its own size.
constexpr uint32_t kRootFirstReadBytes = 514;
// No folder Windows can name is longer (32767 UTF-16 units, two ANSI bytes each at most).
constexpr uint32_t kRootMaxBytes = 65536;
// Process ids are listed 512 at a time, up to this many (4 MB).
constexpr uint32_t kProcessIdStep = 512;
constexpr uint32_t kMaxProcessIds = 1u << 20;
// The service enumeration is never given more than this.
constexpr uint32_t kMaxServiceBytes = 16u << 20;

// The text of a string value, up to its first NUL and never past the bytes the call
// reported. False for a missing value or one of another type.
bool TextFromValue(uint32_t type, const std::vector<char>& buffer, uint32_t size, std::string& out) {
    if (type != kRegSz) return false;
    size_t limit = size < buffer.size() ? size : buffer.size();
    size_t n = 0;
    while (n < limit && buffer[n] != '\0') ++n;
    out.assign(buffer.data(), n);
    return true;
}

// A string value read into a zeroed buffer of `bytes`; one that does not fit is not read.
bool ReadFixedText(IRegistry& reg, RegKey key, const char* name, uint32_t bytes, std::string& out) {
    std::vector<char> buffer(bytes, '\0');
    uint32_t type = kRegNone;
    uint32_t size = bytes;
    if (reg.QueryValueEx(key, name, &type, buffer.data(), &size) != 0) return false;
    return TextFromValue(type, buffer, size, out);
}

// A string value read whole, whatever its length: a first read into a small buffer, and
// if the value is longer, a second into a buffer of its size.
bool ReadWholeText(IRegistry& reg, RegKey key, const char* name, std::string& out) {
    std::vector<char> buffer(kRootFirstReadBytes, '\0');
    uint32_t type = kRegNone;
    uint32_t size = kRootFirstReadBytes;
    uint32_t rc = reg.QueryValueEx(key, name, &type, buffer.data(), &size);
    if (rc == kErrorMoreData) {
        if (size > kRootMaxBytes) return false;
        buffer.assign(size + 2u, '\0');
        size += 2u;
        // A value that grew between the two reads fails here too.
        rc = reg.QueryValueEx(key, name, &type, buffer.data(), &size);
    }
    if (rc != 0) return false;
    return TextFromValue(type, buffer, size, out);
}

// An environment variable's whole value, normalised as the root is; empty when it is not
// set or set to nothing.
std::string NormalizedEnvironment(ISystem& sys, const char16_t* name) {
    std::u16string value;
    if (!sys.GetEnvironmentVariable(name, value) || value.empty()) return {};
    std::string text = Utf16ToAnsi(value);
    expand::NormalizePath(&text[0]);
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

CDetector::CDetector(platform::Platform& os) : os_(os) {}

CDetector::~CDetector() = default;

uint32_t CDetector::DetectRunningProducts() {
    RetrieveProductName();
    OsVersionInfo version;
    const bool known = os_.sys.GetVersionEx(version);
    if (known && version.platformId == kVerPlatformWin32Nt) {
        isNtPlatform = 1;
        (void)ScanServicesAndProcesses();
    } else if (known && version.platformId == kVerPlatformWin32Windows) {
        isNtPlatform = 0;
        (void)ScanProcessSnapshot();
    } else {
        os_.sys.SetLastError(kErrorAppWrongOs);
        return kUnsupportedPlatform;
    }
    return os_.sys.GetLastError();
}

void CDetector::RetrieveProductName() {
    if (!RetrieveAuAProductName()) RetrievePLXProductName();
}

bool CDetector::RetrieveAuAProductName() {
    static const char* const kTag = "CDetector::RetrieveAuAProductName";
    RegKey raw = 0;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, kAgentKey, kKeyRead, raw) != 0) {
        EngineLog(3, "%s: RetrieveAuAProductName: RegOpenKeyEx failed for 'SOFTWARE\\Kelvaris\\Aurel Agent'",
                  kTag);
        return false;
    }
    UniqueRegKey key(&os_.reg, raw);
    // The name goes into every file entry of the run: only the machine may have written it.
    if (!expand::MachineWroteKey(os_, kHkeyLocalMachine, kAgentKey, key.get(), kTag)) return false;
    std::string name;
    if (!ReadFixedText(os_.reg, key.get(), "ProductName", kNameBufferBytes, name)) {
        EngineLog(3, "%s: RetrieveAuAProductName: RegQueryValueEx failed for 'ProductName'", kTag);
        return false;
    }
    productName = name;
    EngineLog(4, "%s: RetrieveAuAProductName: ProductName=%s", kTag, productName.c_str());
    return true;
}

void CDetector::RetrievePLXProductName() {
    static const char* const kTag = "CDetector::RetrievePLXProductName";
    RegKey raw = 0;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, kPlxKey, kKeyRead, raw) != 0) {
        EngineLog(
            3, "%s: RetrievePLXProductName: RegOpenKeyEx failed for 'SOFTWARE\\Tessel Works\\Kelvaris\\PLX'",
            kTag);
    } else {
        UniqueRegKey key(&os_.reg, raw);
        // The number chooses the key the name is read from.
        if (!expand::MachineWroteKey(os_, kHkeyLocalMachine, kPlxKey, key.get(), kTag)) return;
        uint32_t number = 0;
        uint32_t type = kRegNone;
        uint32_t size = sizeof(number);
        if (os_.reg.QueryValueEx(key.get(), "LastInstalledProduct", &type, &number, &size) == 0 &&
            type == kRegDword && size == sizeof(number)) {
            lastInstalledProduct = number;
        } else {
            lastInstalledProduct = 0;
            EngineLog(3, "%s: RetrievePLXProductName: RegQueryValueEx failed for 'LastInstalledProduct'",
                      kTag);
        }
    }

    const std::string tail = "\\Products\\" + std::to_string(lastInstalledProduct);
    const std::string productKey = std::string(kPlxKey) + tail;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, productKey, kKeyRead, raw) != 0) {
        EngineLog(
            3,
            "%s: RetrievePLXProductName: RegOpenKeyEx failed for 'SOFTWARE\\Tessel Works\\Kelvaris\\PLX%s'",
            kTag, tail.c_str());
        return;
    }
    UniqueRegKey key(&os_.reg, raw);
    if (!expand::MachineWroteKey(os_, kHkeyLocalMachine, productKey.c_str(), key.get(), kTag)) return;
    std::string name;
    if (!ReadFixedText(os_.reg, key.get(), "ProductName", kNameBufferBytes, name)) {
        EngineLog(3, "%s: RetrievePLXProductName: RegQueryValueEx failed for 'ProductName'", kTag);
        return;
    }
    productName = name;
    EngineLog(4, "%s: RetrievePLXProductName: ProductName=%s", kTag, productName.c_str());
}

uint32_t CDetector::ScanServicesAndProcesses() {
    services.clear();
    shellClientProcess.clear();
    passedOver.clear();
    ScHandle manager = 0;
    if (!os_.scm.OpenSCManager(nullptr, kScManagerAllAccess, manager)) return os_.sys.GetLastError();
    scManager.reset(&os_.scm, manager);

    std::vector<EnumServiceStatus> found;
    uint32_t needed = 0;
    uint32_t returned = 0;
    if (!os_.scm.EnumServicesStatus(manager, kScannedServiceTypes, kServiceStateAll, 0, found, needed,
                                    returned, nullptr)) {
        uint32_t error = os_.sys.GetLastError();
        if (error != kErrorMoreData) return error;
        if (needed > kMaxServiceBytes) return kErrorNotEnoughMemory;
        // Services added since the first call do not fit; the ones that do still count.
        if (!os_.scm.EnumServicesStatus(manager, kScannedServiceTypes, kServiceStateAll, needed, found,
                                        needed, returned, nullptr)) {
            error = os_.sys.GetLastError();
            if (error != kErrorMoreData) return error;
        }
    }
    services = std::move(found);

    std::vector<uint32_t> ids;
    for (uint32_t capacity = kProcessIdStep;; capacity += kProcessIdStep) {
        uint32_t bytes = 0;
        const uint32_t bufferBytes = capacity * static_cast<uint32_t>(sizeof(uint32_t));
        if (!os_.proc.EnumProcesses(bufferBytes, ids, bytes)) return os_.sys.GetLastError();
        // A full buffer may have cut the list short.
        if (bytes != bufferBytes || capacity >= kMaxProcessIds) break;
    }

    for (uint32_t id : ids) {
        ProcessHandle raw = 0;
        if (!os_.proc.OpenProcess(kProcessAllAccess, false, id, raw)) continue;
        UniqueProcess process(&os_.proc, raw);
        ModuleHandle module = 0;
        if (!os_.proc.EnumProcessModulesFirst(process.get(), module)) continue;
        std::string path;
        if (!os_.proc.GetModuleFileNameEx(process.get(), module, kModulePathChars, path)) continue;
        if ((Contains(path, "kvsshaa") || Contains(path, "kvshclient")) &&
            CountsAsConflict(path, kShellClientName))
            shellClientProcess = path;
    }
    return 1;
}

uint32_t CDetector::ScanProcessSnapshot() {
    detectedProducts.clear();
    passedOver.clear();
    SnapshotHandle raw = 0;
    if (!os_.proc.CreateToolhelp32Snapshot(kTh32csSnapAll, 0, raw)) return 0;
    UniqueSnapshot snapshot(&os_.proc, raw);
    ProcessEntry entry;
    if (!os_.proc.Process32First(snapshot.get(), entry)) return 0;
    // The first entry is the kernel's own process.
    while (os_.proc.Process32Next(snapshot.get(), entry)) {
        // The snapshot names each image by its full path here.
        const std::string& image = entry.exeFile;
        if (Contains(image, "DSLP.EXE") && CountsAsConflict(image, kDiskSealerName))
            detectedProducts += kDiskSealer;
        if (Contains(image, "kvipsec") && CountsAsConflict(image, kTunnelPlusName))
            detectedProducts += kTunnelPlus;
        if (Contains(image, "KVSSHAA.EXE") && CountsAsConflict(image, kShellClientName))
            detectedProducts += kShellClient;
    }
    return 1;
}

bool CDetector::CountsAsConflict(const std::string& image, const char* product) {
    if (!guard::StandardUserCanChange(os_, image)) return true;
    passedOver.push_back(PassedOverProcess{image, product});
    return false;
}

void CDetector::LogPassedOverProcesses() const {
    for (const PassedOverProcess& p : passedOver)
        EngineLog(3,
                  "%s: Running process '%s' is not counted as %s: a standard user can change it or a folder "
                  "above it",
                  "CDetector::CheckConflictingProducts", p.image.c_str(), p.product);
}

bool CDetector::KeyExists(const char* keyPath) {
    RegKey raw = 0;
    uint32_t rc = os_.reg.OpenKeyEx(kHkeyLocalMachine, keyPath, kKeyRead, raw);
    if (rc == 0) {
        UniqueRegKey key(&os_.reg, raw);
        return true;
    }
    // A key that refuses to be read is there all the same.
    return rc == kErrorAccessDenied;
}

uint32_t CDetector::CheckConflictingProducts() {
    bool found = false;
    if (isNtPlatform == 0) {
        found = !detectedProducts.empty();
    } else {
        for (const EnumServiceStatus& s : services) {
            if (Contains(s.serviceName, "kvcrypt1") && KeyExists(kDiskSealerKey)) found = true;
            if (Contains(s.serviceName, "kvipsec") && KeyExists(kTunnelPlusKey)) found = true;
        }
        if (KeyExists(kShellClientKey) || !shellClientProcess.empty()) found = true;
    }
    removalBlocked = found ? 1 : 0;
    return removalBlocked;
}

bool CDetector::ReadAuAInstallPath() {
    RegKey raw = 0;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, kAgentKey, kKeyRead, raw) != 0) return false;
    UniqueRegKey key(&os_.reg, raw);
    // The root folder is taken whole with --removeall: only the machine may have named it.
    return expand::MachineWroteKey(os_, kHkeyLocalMachine, kAgentKey, key.get(),
                                   "CDetector::ReadAuAInstallPath") &&
           ReadWholeText(os_.reg, key.get(), "InstallPath", rootInstallPath);
}

bool CDetector::ReadInstallationRootDirectory() {
    RegKey raw = 0;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, kVendorKey, kKeyRead, raw) != 0) return false;
    UniqueRegKey key(&os_.reg, raw);
    return expand::MachineWroteKey(os_, kHkeyLocalMachine, kVendorKey, key.get(),
                                   "CDetector::ReadInstallationRootDirectory") &&
           ReadWholeText(os_.reg, key.get(), "InstallationRootDirectory", rootInstallPath);
}

uint32_t CDetector::CheckInstallationPath() {
    rootInstallPath.clear();
    if (!ReadAuAInstallPath()) {
        rootInstallPath.clear();
        if (!ReadInstallationRootDirectory()) rootInstallPath.clear();
    }
    if (!rootInstallPath.empty()) {
        expand::NormalizePath(&rootInstallPath[0]);
        rootInstallPath.resize(std::strlen(rootInstallPath.c_str()));
    }
    removalBlocked = !rootInstallPath.empty() && IsUnsafeRoot(rootInstallPath) ? 1 : 0;
    return removalBlocked;
}

bool CDetector::IsUnsafeRoot(const std::string& root) {
    // Only a full path from a drive letter names one folder; anything else (relative, a
    // share, a device path) would be resolved against something the check cannot see.
    const bool drive =
        root.size() >= 2 && root[1] == ':' && std::isalpha(static_cast<unsigned char>(root[0]));
    if (!drive) return true;
    if (root.size() == 2) return true;  // the root of a drive, any drive of any kind
    if (root[2] != '\\') return true;   // "C:dir" is relative to C:'s current directory

    // Every spelling of a folder must meet the rules below in its plain long form: "..",
    // trailing dots and blanks and streams are refused; 8.3 names are looked up.
    for (const std::string& part : expand::PathComponents(root))
        if (expand::IsAmbiguousComponent(part)) return true;
    const std::string plain = expand::LongFormPath(os_, root);
    for (const std::string& part : expand::PathComponents(plain))
        if (expand::IsAmbiguousComponent(part)) return true;

    if (Contains(plain, "DOCUMENTS AND SETTINGS")) return true;
    if (Contains(plain, "\\USERS\\")) return true;
    const std::string windows = NormalizedEnvironment(os_.sys, u"WINDIR");
    if (!windows.empty() && Contains(plain, windows.c_str())) return true;
    // Folders of the machine itself, each when set: removing one takes every program's files.
    static const char16_t* const kMachineFolders[] = {
        u"ProgramFiles",
        u"ProgramW6432",
        u"ProgramFiles(x86)",
        u"CommonProgramFiles",
        u"CommonProgramFiles(x86)",
        u"CommonProgramW6432",
        u"ProgramData",
        u"ALLUSERSPROFILE",
    };
    for (const char16_t* name : kMachineFolders) {
        const std::string folder = NormalizedEnvironment(os_.sys, name);
        if (!folder.empty() && AnsiCompareNoCase(plain.c_str(), folder.c_str()) == 0) return true;
    }
    return false;
}

uint32_t IsAdministrator(platform::Platform& os) {
    platform::OsVersionInfo version;
    if (os.sys.GetVersionEx(version) && version.platformId != platform::kVerPlatformWin32Nt) return 1;
    platform::TokenHandle raw = 0;
    if (!os.sys.OpenProcessToken(platform::kTokenQuery, raw)) return 0;
    platform::UniqueToken token(&os.sys, raw);
    std::vector<platform::TokenGroup> groups;
    if (!os.sys.GetTokenGroups(token.get(), groups)) return 0;
    for (const auto& g : groups) {
        // A group kept only for deny checks (a filtered, not elevated token) does not count.
        if (g.sid == platform::kAdministratorsSid && (g.attributes & platform::kSeGroupEnabled)) return 1;
    }
    return 0;
}

}  // namespace detect
