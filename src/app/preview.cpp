// The preview: the detector's checks, the administrator check and the list building as a
// run makes them, with the engine told to change nothing, then read-only questions to the
// machine for what the removal steps would meet. Nothing here writes, stops, deletes or
// starts anything.
#include "app/preview.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "actions/builtin_upgrade_codes.h"
#include "actions/program_search.h"
#include "actions/protocol_catalog.h"
#include "actions/security_center.h"
#include "app/cleaner.h"
#include "expand/handlers_internal.h"
#include "expand/installer_guid.h"
#include "expand/os_checks.h"
#include "expand/path_helpers.h"
#include "msitool/command_line.h"
#include "platform/ansi.h"
#include "platform/guid.h"

namespace app {

namespace {

using platform::Platform;
using platform::RegKey;

constexpr char kMakerLower[] = "kelvaris";
constexpr char kProductsArea[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
// Longer texts than this are no product property or registry string of ours.
constexpr uint32_t kMaxTextChars = 32768;
// More related products than this is no installation but a damaged database.
constexpr uint32_t kMaxRelated = 4096;

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsMakersPublisher(const std::string& publisher) {
    return Lower(publisher).find(kMakerLower) != std::string::npos;
}

std::u16string Widen(const char* text) {
    std::u16string wide;
    if (!platform::AnsiToUtf16(text, std::strlen(text), wide)) wide.clear();
    return wide;
}

// One property of an installed product; empty when it cannot be read.
std::string ProductProperty(platform::IInstaller& msi, const std::u16string& code, const char16_t* property) {
    uint32_t chars = 0;
    if (msi.GetProductInfo(code, property, nullptr, &chars) != 0 || chars >= kMaxTextChars) return {};
    std::vector<char16_t> buffer(chars + 1u, u'\0');
    uint32_t size = chars + 1u;
    if (msi.GetProductInfo(code, property, buffer.data(), &size) != 0 || size > chars) return {};
    return platform::Utf16ToAnsi(std::u16string(buffer.data(), size));
}

// A string value of an open key; empty when missing, not a string or too long.
std::string StringValue(platform::IRegistry& reg, RegKey key, const char* name) {
    uint32_t type = 0, size = 0;
    if (reg.QueryValueEx(key, name, &type, nullptr, &size) != 0 || size == 0 || size > kMaxTextChars ||
        (type != platform::kRegSz && type != platform::kRegExpandSz))
        return {};
    std::vector<char> buffer(size + 1u, '\0');
    if (reg.QueryValueEx(key, name, &type, buffer.data(), &size) != 0) return {};
    return std::string(buffer.data());
}

struct PlannedProduct {
    std::string packedCode;  // the installer's packed form, so that each product is named once
    std::string line;
};

class PlanWriter {
  public:
    void Section(const char* title) {
        text_ += "\n";
        text_ += title;
        text_ += ":\n";
        linesInSection_ = 0;
    }
    void Line(const std::string& line) {
        text_ += "  " + line + "\n";
        ++linesInSection_;
    }
    void EndSection() {
        if (linesInSection_ == 0) text_ += "  (none)\n";
    }
    void Raw(const std::string& line) { text_ += line + "\n"; }
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
    int linesInSection_ = 0;
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof(buffer) - 1));
}

class Preview {
  public:
    explicit Preview(Cleaner& cleaner)
        : cleaner_(cleaner), engine_(cleaner.engine), os_(cleaner.engine.Os()) {}

    PreviewResult Run();

  private:
    PreviewResult Refused(const std::string& why);
    void Products();
    void ProductsOfUpgradeCode(const char* code, const char* source);
    void ProductsOfDatabaseScan();
    bool Processes();
    bool Services();
    void NetworkProviders();
    void SecurityCenter();
    void Files();
    void RegistryValues();
    void RegistryKeys();
    void Programs();
    void Firewall();
    void Restart();
    void Kept();
    // The views an object of the registry lists exists in: "32-bit view", "64-bit view",
    // "both", or "neither" (the deletion will find it missing).
    const char* ViewsOf(const char* text, bool isValue);
    bool ExistsIn(const char* text, bool isValue, uint32_t view);
    // The run stops at this step with `code`: everything after it does not happen.
    void StopsHere(const char* step, uint32_t code);

    Cleaner& cleaner_;
    engine::CNuke& engine_;
    Platform& os_;
    PlanWriter plan_;
    PreviewResult result_;
    std::vector<PlannedProduct> products_;
};

PreviewResult Preview::Refused(const std::string& why) {
    result_.code = platform::kErrorInstallRemoteDisallowed;
    plan_.Raw("Preview of a removal run: the removal is refused on this machine; nothing would be removed.");
    plan_.Raw("Reason: " + why);
    plan_.Raw(Format("Summary: nothing to remove; the run would end with code %u.", result_.code));
    result_.plan = plan_.Text();
    return result_;
}

void Preview::StopsHere(const char* step, uint32_t code) {
    result_.code = code;
    plan_.Raw(Format("The run stops at %s with code %04u: no later step runs and there is no restart.", step,
                     code));
}

void Preview::ProductsOfUpgradeCode(const char* code, const char* source) {
    const std::u16string upgrade = Widen(code);
    std::u16string product;
    for (uint32_t index = 0; index < kMaxRelated && os_.msi.EnumRelatedProducts(upgrade, index, product) == 0;
         ++index) {
        const std::string productCode = platform::Utf16ToAnsi(product);
        const std::string packed = expand::DarwinTransform(productCode.c_str());
        bool named = false;
        for (const PlannedProduct& p : products_) named = named || p.packedCode == packed;
        if (named) continue;
        std::string name = ProductProperty(os_.msi, product, u"InstalledProductName");
        if (name.empty()) name = ProductProperty(os_.msi, product, u"ProductName");
        const std::string version = ProductProperty(os_.msi, product, u"VersionString");
        const std::string publisher = ProductProperty(os_.msi, product, u"Publisher");
        std::string line =
            Format("%s %s (%s) %s", name.c_str(), version.c_str(), publisher.c_str(), productCode.c_str());
        products_.push_back({packed, line + " - " + source + " " + code});
        ++result_.products;
    }
}

void Preview::ProductsOfDatabaseScan() {
    RegKey raw = 0;
    const uint32_t access = platform::kKeyRead | platform::kKeyWow64_64Key;
    if (os_.reg.OpenKeyEx(platform::kHkeyLocalMachine, kProductsArea, access, raw) != 0) return;
    platform::UniqueRegKey area(&os_.reg, raw);
    char packed[256];
    for (uint32_t index = 0;; ++index) {
        uint32_t length = sizeof(packed);
        if (os_.reg.EnumKeyEx(area.get(), index, packed, &length) != 0) break;
        const std::string code(packed, length);
        RegKey props = 0;
        if (os_.reg.OpenKeyEx(area.get(), code + "\\InstallProperties", access, props) != 0) continue;
        platform::UniqueRegKey properties(&os_.reg, props);
        const std::string publisher = StringValue(os_.reg, properties.get(), "Publisher");
        if (!IsMakersPublisher(publisher)) continue;
        bool named = false;
        for (const PlannedProduct& p : products_) named = named || Lower(p.packedCode) == Lower(code);
        if (named) continue;
        const std::string name = StringValue(os_.reg, properties.get(), "DisplayName");
        const std::string version = StringValue(os_.reg, properties.get(), "DisplayVersion");
        products_.push_back({code, Format("%s %s (%s) %s - database scan", name.c_str(), version.c_str(),
                                          publisher.c_str(), code.c_str())});
        ++result_.products;
    }
}

void Preview::Products() {
    plan_.Section("Products to uninstall");
    platform::OsVersionInfo version;
    const bool nt = os_.sys.GetVersionEx(version) && version.platformId == platform::kVerPlatformWin32Nt;
    uint32_t stopCode = 0;
    const char* code = nullptr;
    if (nt) {
        for (uint32_t r = engine_.msiUpgradeCodeList.First(&code); r == 0;
             r = engine_.msiUpgradeCodeList.Next(&code)) {
            // A code the installer tool cannot parse is its failure, and the run's.
            if (stopCode == 0 && !msitool::CommandLine(u"/uninstall /u:" + Widen(code)).IsValid())
                stopCode = platform::kErrorBadArguments;
            ProductsOfUpgradeCode(code, "configured upgrade code");
        }
        for (const char* builtIn : engine::kBuiltInUpgradeCodes)
            ProductsOfUpgradeCode(builtIn, "built-in upgrade code");
    }
    if (engine_.forceMsi == 1) ProductsOfDatabaseScan();
    for (const PlannedProduct& p : products_)
        if (!p.line.empty()) plan_.Line(p.line);
    plan_.EndSection();
    if (stopCode != 0) StopsHere("the installer uninstall", stopCode);
}

bool Preview::Processes() {
    plan_.Section("Processes to end");
    platform::SnapshotHandle raw = 0;
    if (!os_.proc.CreateToolhelp32Snapshot(platform::kTh32csSnapProcess, 0, raw)) {
        plan_.EndSection();
        StopsHere("the process step (no process snapshot)", os_.sys.GetLastError());
        return false;
    }
    platform::UniqueSnapshot snapshot(&os_.proc, raw);
    const uint32_t self = os_.sys.GetCurrentProcessId();
    platform::ProcessEntry entry;
    for (bool more = os_.proc.Process32First(snapshot.get(), entry); more;
         more = os_.proc.Process32Next(snapshot.get(), entry)) {
        const char* name = expand::detail::FileNamePart(entry.exeFile.c_str());
        if (!engine_.stopProcessList.Contains(name) || entry.processId == self ||
            !platform::SurvivesAnsi(entry.wideExeFile))
            continue;
        plan_.Line(Format("%s (process %u)", name, entry.processId));
        ++result_.processes;
    }
    plan_.EndSection();
    return true;
}

bool Preview::Services() {
    plan_.Section("Services to stop and delete");
    platform::ScHandle raw = 0;
    if (!os_.scm.OpenSCManager(nullptr, platform::kScManagerAllAccess, raw)) {
        plan_.EndSection();
        StopsHere("the service step (no service control manager)", os_.sys.GetLastError());
        return false;
    }
    platform::UniqueScHandle manager(&os_.scm, raw);
    const char* name = nullptr;
    for (uint32_t r = engine_.serviceList.First(&name); r == 0; r = engine_.serviceList.Next(&name)) {
        platform::ScHandle rawService = 0;
        if (!os_.scm.OpenService(manager.get(), name, platform::kServiceQueryStatus, rawService)) {
            const uint32_t error = os_.sys.GetLastError();
            // A listed service that is not installed is no error of the run.
            if (error != platform::kErrorServiceDoesNotExist)
                plan_.Line(Format("%s: cannot be opened (error %u), the run will report it", name, error));
            continue;
        }
        platform::UniqueScHandle service(&os_.scm, rawService);
        platform::ServiceStatus status;
        const bool known = os_.scm.QueryServiceStatus(service.get(), status);
        const char* state = !known                                             ? "state unknown"
                            : status.currentState == platform::kServiceStopped ? "stopped"
                            : status.currentState == platform::kServiceRunning ? "running"
                                                                               : "changing state";
        plan_.Line(Format("%s (%s)", name, state));
        ++result_.services;
    }
    plan_.EndSection();
    return true;
}

void Preview::NetworkProviders() {
    plan_.Section("Network providers to remove");
    actions::ProtocolCatalog catalog(os_.wsc);
    if (catalog.Enumerate()) {
        for (uint32_t i = 0; i < catalog.GetCount(); ++i) {
            const platform::ProtocolInfo* e = catalog.GetEntry(i);
            if (e->chainLen == platform::kBaseProtocol) continue;
            plan_.Line(Format("%s %s, provider %s", e->chainLen == 0 ? "layered entry" : "protocol chain",
                              platform::Utf16ToAnsi(e->protocolName).c_str(),
                              platform::Utf16ToAnsi(platform::GuidText(e->providerId)).c_str()));
        }
    } else {
        plan_.Line(Format("the 32-bit catalogue cannot be read (error %d)", catalog.LastError()));
    }
    if (engine_.IsWow64()) plan_.Line("the 64-bit catalogue, through instkvps_x64.exe");
    plan_.EndSection();
}

void Preview::SecurityCenter() {
    plan_.Section("Security Center entries to remove");
    platform::OsVersionInfo v;
    // The step acts from Windows XP Service Pack 2 on.
    if (os_.sys.GetVersionEx(v) && v.platformId == platform::kVerPlatformWin32Nt && v.majorVersion >= 5 &&
        !(v.majorVersion == 5 && v.minorVersion == 0) &&
        !(v.majorVersion == 5 && v.minorVersion == 1 && v.servicePackMajor < 2)) {
        const std::string av = platform::Utf16ToAnsi(platform::GuidText(actions::kAntiVirusInstanceGuid));
        const std::string fw = platform::Utf16ToAnsi(platform::GuidText(actions::kFirewallInstanceGuid));
        plan_.Line("AntiVirusProduct.instanceGuid=\"" + av + "\" (when registered)");
        plan_.Line("FirewallProduct.instanceGuid=\"" + fw + "\" (when registered)");
    }
    plan_.EndSection();
}

void Preview::Files() {
    plan_.Section("Files and folders to delete at restart");
    const char* path = nullptr;
    // In the order the run queues them: a folder's contents ahead of the folder.
    for (uint32_t r = engine_.fileList.Last(&path); r == 0; r = engine_.fileList.Previous(&path)) {
        plan_.Line(path);
        ++result_.files;
    }
    plan_.EndSection();
}

bool Preview::ExistsIn(const char* text, bool isValue, uint32_t view) {
    return expand::RegistryEntryExists(os_.reg, text, isValue, view, true);
}

const char* Preview::ViewsOf(const char* text, bool isValue) {
    const bool in32 = ExistsIn(text, isValue, 0);
    const bool in64 = ExistsIn(text, isValue, platform::kKeyWow64_64Key);
    if (in32 && in64) return "both";
    if (in32) return "32-bit view";
    if (in64) return "64-bit view";
    return "neither view: missing already";
}

void Preview::RegistryValues() {
    plan_.Section("Registry values to delete");
    const char* text = nullptr;
    for (uint32_t r = engine_.regValueList.First(&text); r == 0; r = engine_.regValueList.Next(&text)) {
        plan_.Line(Format("%s (%s)", text, ViewsOf(text, true)));
        ++result_.values;
    }
    plan_.EndSection();
}

void Preview::RegistryKeys() {
    plan_.Section("Registry keys to delete");
    const char* text = nullptr;
    // In the order the run deletes them: subkeys ahead of their keys.
    for (uint32_t r = engine_.regKeyList.Last(&text); r == 0; r = engine_.regKeyList.Previous(&text)) {
        plan_.Line(Format("%s (%s)", text, ViewsOf(text, false)));
        ++result_.keys;
    }
    plan_.EndSection();
}

void Preview::Programs() {
    plan_.Section("Programs to start");
    const char* entry = nullptr;
    for (uint32_t r = engine_.startProcessList.First(&entry); r == 0;
         r = engine_.startProcessList.Next(&entry)) {
        std::string program;
        const uint32_t found = actions::FindProgramToStart(os_, entry, program);
        // A full path that names a folder is found, but no program starts from it.
        const uint32_t attributes =
            found == 0 ? os_.fs.GetFileAttributesA(program) : platform::kInvalidFileAttributes;
        if (attributes != platform::kInvalidFileAttributes &&
            (attributes & platform::kFileAttributeDirectory) == 0)
            plan_.Line(Format("%s (found as %s)", entry, program.c_str()));
        else if (found == actions::kErrorProgramUserCanChange)
            plan_.Line(Format("%s (not started: a standard user can change %s or a folder above it)", entry,
                              program.c_str()));
        else
            plan_.Line(Format("%s (not found: starting it will fail)", entry));
    }
    plan_.EndSection();
}

void Preview::Firewall() {
    plan_.Section("Windows Firewall");
    if (expand::GetOsPlatformId(os_) == static_cast<int>(platform::kVerPlatformWin32Nt) &&
        expand::GetOsMajorVersion(os_) != 6)
        plan_.Line("switched off and on again, so that it is left on");
    plan_.EndSection();
}

void Preview::Restart() {
    plan_.Section("Restart");
    if (cleaner_.noReboot != 0)
        plan_.Line("no (--noreboot)");
    else if (cleaner_.autoRestart == 1 && cleaner_.rebootDelay != 0)
        plan_.Line(Format("yes, %u seconds after a notice", cleaner_.rebootDelay));
    else if (cleaner_.autoRestart == 1)
        plan_.Line("yes, at once");
    else
        plan_.Line("the user chooses RESTART or LATER in the dialog");
    plan_.EndSection();
}

void Preview::Kept() {
    plan_.Section("Kept, with the reason");
    for (const engine::KeptObject& k : engine_.kept) {
        plan_.Line(k.object + ": " + k.reason);
        ++result_.kept;
    }
    plan_.EndSection();
}

PreviewResult Preview::Run() {
    detect::CDetector& detector = cleaner_.detector;
    (void)detector.DetectRunningProducts();
    (void)detector.CheckConflictingProducts();
    if (detector.removalBlocked)
        return Refused(
            "another product of the maker is present that this tool must not remove "
            "(disk encryption, VPN client or secure-shell client)");
    (void)detector.CheckInstallationPath();
    if (detector.removalBlocked)
        return Refused("the installation folder '" + detector.rootInstallPath +
                       "' is one whose removal would destroy user or system data");
    engine_.SetDetector(&detector);
    if (detect::IsAdministrator(os_) == 0) {
        result_.code = platform::kErrorAccessDenied;
        plan_.Raw(
            "Preview of a removal run: the tool does not run as an elevated administrator; nothing "
            "would be removed.");
        plan_.Raw(Format("Summary: nothing to remove; the run would end with code %u.", result_.code));
        result_.plan = plan_.Text();
        return result_;
    }

    engine_.previewOnly = true;
    const uint32_t code = cleaner_.PrepareLists();
    if (code != 0) {
        result_.code = code;
        plan_.Raw(
            Format("Preview of a removal run: building the lists failed with code %04u; nothing would "
                   "be removed.",
                   code));
        if (code == platform::kErrorFileNotFound)
            plan_.Raw("The configuration file beside the program cannot be read.");
        else
            plan_.Raw("Failing configuration line: " + engine_.errorText);
        plan_.Raw(Format("Summary: nothing to remove; the run would end with code %u.", code));
        result_.plan = plan_.Text();
        return result_;
    }

    plan_.Raw("Preview of a removal run: what the run would do on this machine. Nothing has been changed.");
    plan_.Raw(
        "Product: " + (detector.productName.empty() ? std::string("(none detected)") : detector.productName) +
        ", installed in " +
        (detector.rootInstallPath.empty() ? std::string("(unknown)") : detector.rootInstallPath));
    if (engine_.retryMarked != 0)
        plan_.Raw("The removal-retry marker would be written with the product name, for a later run.");

    Products();
    if (result_.code == 0 && Processes() && Services()) {
        NetworkProviders();
        SecurityCenter();
        Files();
        RegistryValues();
        RegistryKeys();
        Programs();
        Firewall();
        Restart();
    }
    Kept();
    plan_.Raw("");
    plan_.Raw(
        Format("Summary: %u products to uninstall, %u processes to end, %u services to delete, %u files "
               "and folders to delete, %u registry values and %u keys to delete; %u objects kept.",
               result_.products, result_.processes, result_.services, result_.files, result_.values,
               result_.keys, result_.kept));
    result_.plan = plan_.Text();
    return result_;
}

}  // namespace

PreviewResult RunPreview(Cleaner& cleaner) { return Preview(cleaner).Run(); }

}  // namespace app
