#include "actions/registry_backup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "actions/reg_file_reader.h"
#include "actions/removal_fixture.h"
#include "guard/held_path.h"
#include "platform/acl_text.h"

namespace removal_testing {
namespace {

using platform::sim::View;
using reg_file_testing::ParseRegFile;
using reg_file_testing::RegFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS";
constexpr char kReal32[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\KELVARIS";
constexpr char kFolder[] = "C:\\Windows\\Logs\\SweepTool\\Backup";
// 2016-01-21 07:05:01 on the simulated clock, which runs on UTC.
constexpr uint64_t kMorning = 86400000ull + (7 * 3600 + 5 * 60 + 1) * 1000ull;

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Every key below and including `path`, relative to it, with every value's name, type and data.
std::string Dump(platform::sim::SimRegistry& reg, const std::string& path, View view,
                 const std::string& relative = ".") {
    if (!reg.Exists(path, view)) return "";
    std::string out = "[" + relative + "]\n";
    for (const std::string& name : reg.ValuesUnder(path, view)) {
        const platform::sim::SimRegValue* v = reg.GetValue(path, name, view);
        if (v == nullptr) return out + "  '" + name + "' listed but not found\n";
        char head[32];
        std::snprintf(head, sizeof head, " type=%x data=", static_cast<unsigned>(v->type));
        out += "  '" + name + "'" + head;
        for (uint8_t b : v->data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", b);
            out += hex;
        }
        out += "\n";
    }
    for (const std::string& key : reg.KeysUnder(path, view))
        out += Dump(reg, path + "\\" + key, view, relative + "\\" + key);
    return out;
}

class RegistryBackupTest : public RemovalTest {
  protected:
    // A tree with every kind of value the file format has to carry.
    void PlantTree(const std::string& key, View view) {
        auto& r = m.registry;
        r.SetString(key, "Text", "C:\\Program Files\\Kelvaris \"Pro\"", view);
        r.SetString(key, "", "default text", view);
        r.SetString(key, "Empty", "", view);
        r.SetString(key, "Expand", "%ProgramFiles%\\Kelvaris", view, platform::kRegExpandSz);
        r.Set(key, "Multi", platform::kRegMultiSz, Bytes(std::string("one\0\0three\0\0", 12)), view);
        r.SetDword(key, "Dword", 0x2a, view);
        r.Set(key, "Qword", platform::kRegQword, {1, 2, 3, 4, 5, 6, 7, 0x80}, view);
        r.Set(key, "Binary", platform::kRegBinary, std::vector<uint8_t>(100, 0xab), view);
        r.Set(key, "EmptyBinary", platform::kRegBinary, {}, view);
        r.Set(key, "None", platform::kRegNone, {}, view);
        r.Set(key, "Odd", 0x100, {0xde, 0xad}, view);
        r.Set(key, "Unterminated", platform::kRegSz, Bytes("abc"), view);
        r.Set(key, "TwoLines", platform::kRegSz, Bytes(std::string("a\r\nb\0", 5)), view);
        r.SetString(key, "C:\\Folder\\With\\Slashes\\", "x", view);
        r.SetString(key, "Caf\xe9", "na\xefve", view);
        r.SetString(key + "\\Sub\\Deeper", "Leaf", "1", view);
        r.CreatePath(key + "\\EmptyKey", view);
    }

    std::string BackupFile() {
        std::vector<std::string> names = m.files.List(kFolder);
        return names.size() == 1 ? std::string(kFolder) + "\\" + names[0] : std::string();
    }

    // A record of any writer (the fixture keeps the engine's only), by its level mark
    // (" I" is level 4) and message, read as the fixture reads the log.
    bool LoggedAnyTag(const std::string& mark, const std::string& message) {
        std::string text = reg_file_testing::Narrow(reg_file_testing::DecodeUtf16(m.files.Contents(kLog)));
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            std::string line = text.substr(start, end - start);
            size_t at = line.find("] ");
            if (at != std::string::npos && line.size() >= at + 6 && line.substr(at + 2, 2) == mark &&
                line.substr(at + 6) == message)
                return true;
        }
        return false;
    }

    RegFile ReadBackup() { return ParseRegFile(m.files.Contents(BackupFile())); }
};

TEST_F(RegistryBackupTest, KeysOfBothViewsComeBackExactlyAtTheirRealPlaces) {
    PlantTree(kKey, View::K32);
    PlantTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\Native", View::K64);
    const std::string before32 = Dump(m.registry, kKey, View::K32);
    const std::string before64 = Dump(m.registry, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Native", View::K64);

    actions::RegistryBackup backup(m.platform());
    EXPECT_EQ(0u, backup.SaveKey(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", false));
    EXPECT_EQ(0u, backup.SaveKey(platform::kHkeyLocalMachine, "SOFTWARE\\Native\\", true));
    ASSERT_EQ(0u, m.registry.SHDeleteKey(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS"));
    platform::RegKey software = 0;
    ASSERT_EQ(0u, m.registry.OpenKeyEx(platform::kHkeyLocalMachine, "SOFTWARE",
                                       platform::kKeyAllAccess | platform::kKeyWow64_64Key, software));
    ASSERT_EQ(0u, m.registry.SHDeleteKey(software, "Native"));
    m.registry.CloseKey(software);

    RegFile file = ParseRegFile(m.files.Contents(backup.path()));
    EXPECT_THAT(file.errors, IsEmpty());
    EXPECT_TRUE(file.hasMark);
    EXPECT_TRUE(file.crlfOnly);
    EXPECT_EQ(actions::kBackupFileHeader, file.header);
    reg_file_testing::Import(file, m.registry);

    EXPECT_EQ(before32, Dump(m.registry, kReal32, View::K64));
    EXPECT_EQ(before64, Dump(m.registry, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Native", View::K64));
}

// The lists hold upper-case texts; a key the import creates again must get back its own name.
TEST_F(RegistryBackupTest, KeysAreNamedAsTheRegistrySpellsThemNotAsTheListWritesThem) {
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\\Components\\Core", "Path", "core.dll",
                         View::K64);
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo", "Version", "1.0", View::K64);
    actions::RegistryBackup backup(m.platform());
    ASSERT_EQ(0u,
              backup.SaveKey(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS DEMO\\COMPONENTS\\CORE", true));
    ASSERT_EQ(0u, backup.SaveValue(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS DEMO", "VERSION", true));
    RegFile file = ReadBackup();
    ASSERT_EQ(2u, file.keys.size());
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\\Components\\Core", file.keys[0].name);
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo", file.keys[1].name);
    ASSERT_EQ(1u, file.keys[1].values.size());
    EXPECT_EQ("Version", file.keys[1].values[0].name);
}

TEST_F(RegistryBackupTest, FileSpellsValuesAsTheRegistryEditorDoes) {
    PlantTree(kKey, View::K32);
    // Text the ANSI code page cannot hold, in a key name, a value name and each string type.
    platform::RegKey raw = 0;
    ASSERT_EQ(0u,
              m.registry.CreateKeyExW(platform::kHkeyLocalMachine, u"SOFTWARE\\KELVARIS\\\u0395\u03bb \u4e2d",
                                      0, platform::kKeyAllAccess, raw, nullptr));
    platform::UniqueRegKey greek(&m.registry, raw);
    for (const auto& [name, type, data] :
         {std::tuple<std::u16string, uint32_t, std::u16string>{u"\u0418\u043c\u044f", platform::kRegSz,
                                                               u"\u039a\u03b1 \u65e5"},
          {u"\u0421\u043f", platform::kRegMultiSz, std::u16string(u"\u03b1\0\u03b2\0", 4)}})
        ASSERT_EQ(0u, m.registry.SetValueExW(greek.get(), name.c_str(), type, data.c_str(),
                                             static_cast<uint32_t>(data.size() + 1) * 2));
    actions::RegistryBackup backup(m.platform());
    ASSERT_EQ(0u, backup.SaveKey(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", false));

    std::u16string wide = reg_file_testing::DecodeUtf16(m.files.Contents(backup.path()).substr(2));
    std::string text = reg_file_testing::Narrow(wide);
    EXPECT_EQ(0u,
              text.find("Windows Registry Editor Version 5.00\r\n\r\n[" + std::string(kReal32) + "]\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n@=\"default text\"\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Text\"=\"C:\\\\Program Files\\\\Kelvaris \\\"Pro\\\"\"\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"C:\\\\Folder\\\\With\\\\Slashes\\\\\"=\"x\"\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Dword\"=dword:0000002a\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Qword\"=hex(b):01,02,03,04,05,06,07,80\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Odd\"=hex(100):de,ad\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"None\"=hex(0):\r\n"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Expand\"=hex(2):25,00,50,00,72,00,6f,00"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,00,00,74,00"));
    EXPECT_THAT(text, HasSubstr("\r\n\"Unterminated\"=hex(1):61,00,62,00,63,00\r\n"));
    // Long data goes on over indented lines, none longer than the editor writes them.
    EXPECT_THAT(text, HasSubstr("\"Binary\"=hex:ab,ab,"));
    EXPECT_THAT(text, HasSubstr(",\\\r\n  ab,ab,"));
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    // The key first, then its subkeys depth first, each section closed by a blank line.
    size_t top = text.find("[" + std::string(kReal32) + "]");
    size_t empty = text.find("[" + std::string(kReal32) + "\\EmptyKey]\r\n\r\n");
    size_t sub = text.find("[" + std::string(kReal32) + "\\Sub]\r\n\r\n");
    size_t deeper = text.find("[" + std::string(kReal32) + "\\Sub\\Deeper]\r\n\"Leaf\"=\"1\"\r\n\r\n");
    EXPECT_LT(top, empty);
    EXPECT_LT(empty, sub);
    EXPECT_LT(sub, deeper);
    EXPECT_NE(std::string::npos, deeper);
    EXPECT_EQ(text.size() - 4, text.rfind("\r\n\r\n"));
    // Names and data leave the ANSI code page as the characters they stand for.
    EXPECT_NE(std::u16string::npos, wide.find(u"\"Caf\u00e9\"=\"na\u00efve\""));
    EXPECT_NE(std::u16string::npos, wide.find(u"\\\u0395\u03bb \u4e2d]\r\n"));
    EXPECT_NE(std::u16string::npos, wide.find(u"\r\n\"\u0418\u043c\u044f\"=\"\u039a\u03b1 \u65e5\"\r\n"));
    EXPECT_NE(std::u16string::npos, wide.find(u"\"\u0421\u043f\"=hex(7):b1,03,00,00,b2,03,00,00,00,00\r\n"));
}

TEST_F(RegistryBackupTest, ValuesAloneGoUnderTheirKeysHeader) {
    m.registry.SetString(kKey, "A\\B", "x", View::K64);
    m.registry.SetString(kKey, "Other", "stays out", View::K64);
    m.registry.SetString(kKey, "", "default", View::K32);
    actions::RegistryBackup backup(m.platform());

    EXPECT_EQ(0u, backup.SaveValue(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", "A\\B", true));
    EXPECT_EQ(0u, backup.SaveValue(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS\\", "", false));
    EXPECT_EQ(2u, backup.SaveValue(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", "Missing", false));
    EXPECT_EQ(2u, backup.SaveKey(platform::kHkeyLocalMachine, "SOFTWARE\\Missing", false));

    RegFile file = ReadBackup();
    ASSERT_EQ(2u, file.keys.size());
    EXPECT_EQ(kKey, file.keys[0].name);
    ASSERT_EQ(1u, file.keys[0].values.size());
    EXPECT_EQ("A\\B", file.keys[0].values[0].name);
    EXPECT_EQ(kReal32, file.keys[1].name);
    ASSERT_EQ(1u, file.keys[1].values.size());
    EXPECT_EQ("", file.keys[1].values[0].name);
    for (const Record& r : Records())
        EXPECT_NE(2, r.level) << "a missing object needs no saving: " << r.message;
}

TEST_F(RegistryBackupTest, NameWithALineBreakIsLeftOutAndReportedAndTheRestIsSaved) {
    m.registry.SetString(kKey, "Two\nLines", "x");
    m.registry.SetString(kKey, "Plain", "y");
    actions::RegistryBackup backup(m.platform());
    EXPECT_EQ(0u, backup.SaveKey(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", false));
    RegFile file = ReadBackup();
    EXPECT_THAT(file.errors, IsEmpty());
    ASSERT_EQ(1u, file.keys.size());
    ASSERT_EQ(1u, file.keys[0].values.size());
    EXPECT_EQ("Plain", file.keys[0].values[0].name);
    EXPECT_TRUE(Logged(2, "CNuke::RegistryBackup: '" + std::string(kReal32) +
                              "\\Two\nLines' could not be saved and is not in the backup, error '13'"));
}

TEST(RegistryBackupNames, ThirtyTwoBitViewIsWrittenWhereTheSixtyFourBitViewFindsIt) {
    using actions::RealKeyName;
    const platform::RegKey hklm = platform::kHkeyLocalMachine;
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\K", RealKeyName(hklm, "SOFTWARE\\K", true));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\K", RealKeyName(hklm, "SOFTWARE\\K", false));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\software\\Wow6432Node\\K",
              RealKeyName(hklm, "software\\Wow6432Node\\K", true));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node", RealKeyName(hklm, "SOFTWARE", true));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SYSTEM\\K", RealKeyName(hklm, "SYSTEM\\K", true));
    // Classes are shared by both views, except COM's class and interface registrations.
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.kv",
              RealKeyName(hklm, "SOFTWARE\\Classes\\.kv", true));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}",
              RealKeyName(hklm, "SOFTWARE\\Classes\\CLSID\\{X}", true));
    EXPECT_EQ("HKEY_CLASSES_ROOT\\WOW6432Node\\Interface\\{X}",
              RealKeyName(platform::kHkeyClassesRoot, "Interface\\{X}", true));
    EXPECT_EQ("HKEY_CLASSES_ROOT\\Kelvaris.File",
              RealKeyName(platform::kHkeyClassesRoot, "Kelvaris.File", true));
    EXPECT_EQ("HKEY_CURRENT_USER\\Software\\K", RealKeyName(platform::kHkeyCurrentUser, "Software\\K", true));
    EXPECT_EQ("HKEY_CURRENT_USER\\Software\\Classes\\WOW6432Node\\CLSID\\{X}",
              RealKeyName(platform::kHkeyCurrentUser, "Software\\Classes\\CLSID\\{X}", true));
    EXPECT_EQ("HKEY_USERS\\S-1-5-21-1_Classes\\WOW6432Node\\CLSID",
              RealKeyName(platform::kHkeyUsers, "S-1-5-21-1_Classes\\CLSID", true));
    EXPECT_EQ("HKEY_USERS\\S-1-5-21-1\\Software\\Classes\\WOW6432Node\\Media Type",
              RealKeyName(platform::kHkeyUsers, "S-1-5-21-1\\Software\\Classes\\Media Type", true));
    EXPECT_EQ("", RealKeyName(platform::kHkeyPerformanceData, "X", false));
}

// --- the run ---

TEST_F(RegistryBackupTest, RunSavesWhatItDeletesOnceInAFileOnlyAdministratorsMayRead) {
    m.system.clockMs = kMorning;
    PlantTree(kKey, View::K32);
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64", "V", "64", View::K64);
    m.registry.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris", "A\\B", "x");
    m.registry.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris", "", "default");
    m.registry.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris", "Kept", "kept");
    const std::string tree = Dump(m.registry, kKey, View::K32);
    List(nuke.regValueList,
         {"HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\A---B", "HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\"});
    List(nuke.regKeyList, {kKey, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(0u, nuke.CleanupRegKeys());

    EXPECT_FALSE(m.registry.Exists(kKey, View::K32));
    EXPECT_FALSE(m.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64", View::K64));
    ASSERT_NE(nullptr, nuke.registryBackup);
    const std::string path = std::string(kFolder) + "\\sweeptool-20160121-070501.reg";
    EXPECT_EQ(path, nuke.registryBackup->path());
    EXPECT_EQ(path, BackupFile());
    EXPECT_TRUE(LoggedAnyTag(
        " I", "RegistryBackup::Save: Registry entries are saved to '" + path + "' before they are deleted"));
    for (const Record& r : Records()) EXPECT_NE(2, r.level) << r.message;

    // Administrators and SYSTEM only, not inherited from the folders above.
    std::vector<platform::AceText> aces;
    bool isProtected = false;
    ASSERT_NE(nullptr, m.files.SecurityOf(kFolder));
    ASSERT_TRUE(platform::ParseDaclText(m.files.SecurityOf(kFolder)->sddl, aces, &isProtected));
    EXPECT_TRUE(isProtected);
    ASSERT_EQ(2u, aces.size());
    EXPECT_EQ("S-1-5-32-544", aces[0].sid);
    EXPECT_EQ("S-1-5-18", aces[1].sid);
    ASSERT_NE(nullptr, m.files.SecurityOf(path));
    EXPECT_EQ("", m.files.SecurityOf(path)->sddl);  // the folder's, inherited

    reg_file_testing::Import(ReadBackup(), m.registry);
    EXPECT_EQ(tree, Dump(m.registry, kKey, View::K32));
    ASSERT_NE(nullptr, m.registry.GetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64", "V", View::K64));
    EXPECT_EQ("64",
              std::string(reinterpret_cast<const char*>(
                  m.registry.GetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64", "V", View::K64)->data.data())));
    EXPECT_THAT(m.registry.ValuesUnder("HKEY_CURRENT_USER\\Software\\Kelvaris"),
                ElementsAre("", "A\\B", "Kept"));
}

TEST_F(RegistryBackupTest, ANameInUseGetsANumberAndARunThatDeletesNothingMakesNoFile) {
    m.system.clockMs = kMorning;
    m.files.CreateFile(std::string(kFolder) + "\\sweeptool-20160121-070501.reg", "older");
    List(nuke.regValueList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\V"});
    List(nuke.regKeyList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY"});
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_THAT(m.files.List(kFolder), ElementsAre("sweeptool-20160121-070501.reg"));
    EXPECT_TRUE(nuke.registryBackup == nullptr || nuke.registryBackup->path().empty());

    m.registry.SetString(kKey, "V", "1");
    EXPECT_TRUE(nuke.DeleteRegistryKey(kKey));
    ASSERT_NE(nullptr, nuke.registryBackup);
    EXPECT_EQ(std::string(kFolder) + "\\sweeptool-20160121-070501-2.reg", nuke.registryBackup->path());
    EXPECT_EQ("older", m.files.Contents(std::string(kFolder) + "\\sweeptool-20160121-070501.reg"));
}

TEST_F(RegistryBackupTest, FolderThatSomeoneMadeBeforeGetsTheClosedListAllTheSame) {
    ASSERT_TRUE(m.files.CreateDirectories(kFolder));
    ASSERT_NE(nullptr, m.files.SecurityOf(kFolder));
    m.files.SecurityOf(kFolder)->sddl = "D:(A;OICI;0x10000000;;;S-1-1-0)";
    // Made by a standard user, who as its owner could open the list up again at any time.
    m.files.SecurityOf(kFolder)->ownerSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
    m.registry.SetString(kKey, "V", "1");
    EXPECT_TRUE(nuke.DeleteRegistryKey(kKey));
    std::vector<platform::AceText> aces;
    bool isProtected = false;
    ASSERT_TRUE(platform::ParseDaclText(m.files.SecurityOf(kFolder)->sddl, aces, &isProtected));
    EXPECT_TRUE(isProtected);
    for (const platform::AceText& ace : aces) EXPECT_NE("S-1-1-0", ace.sid);
    EXPECT_EQ(platform::kAdministratorsSid, m.files.SecurityOf(kFolder)->ownerSid);
    ASSERT_NE(nullptr, nuke.registryBackup);
    EXPECT_FALSE(nuke.registryBackup->path().empty());
}

TEST_F(RegistryBackupTest, KeyThatRefusesReadingIsSavedOnceItsAccessListIsOpenedUp) {
    m.registry.SetString(kKey + std::string("\\Licence"), "Code", "ABCD-1234");
    ASSERT_NE(nullptr, m.registry.SecurityOf(kKey));
    m.registry.SecurityOf(kKey)->deniedAccess =
        platform::kKeyQueryValue | platform::kKeyEnumerateSubKeys | platform::kDelete;
    EXPECT_TRUE(nuke.DeleteRegistryKey(kKey));
    EXPECT_FALSE(m.registry.Exists(kKey));
    RegFile file = ReadBackup();
    ASSERT_EQ(2u, file.keys.size());
    EXPECT_EQ(std::string(kReal32) + "\\Licence", file.keys[1].name);
    ASSERT_EQ(1u, file.keys[1].values.size());
    EXPECT_EQ("Code", file.keys[1].values[0].name);
    for (const Record& r : Records()) EXPECT_NE(2, r.level) << r.message;
}

// An entry whose reading is refused, by a deny entry for the tool or once by the registry,
// ends up deleted and in the backup, or kept: never deleted unsaved.
TEST_F(RegistryBackupTest, EntryWhoseReadingIsRefusedIsDeletedOnlyOnceSaved) {
    const std::string deny =
        "D:(D;;0x9;;;" + m.security.userSid + ")(A;CI;GA;;;BA)";  // no values, no subkeys
    const std::string keys[] = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KvOnly64",
                                "HKEY_CURRENT_USER\\Software\\Kv\\Denied",
                                "HKEY_CURRENT_USER\\Software\\Kv\\Once"};
    for (const std::string& key : keys) m.registry.SetString(key, "Serial", "1", View::K64);
    for (int i : {0, 1})
        *m.registry.SecurityOf(keys[i], View::K64) = {platform::kAdministratorsSid, deny, 0x9};
    (void)nuke.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\KVONLY64");
    (void)nuke.DeleteRegistryValue(platform::kHkeyCurrentUser, "SOFTWARE\\KV\\DENIED", "SERIAL", "D");
    m.faults.Fail("RegEnumValueW", platform::kErrorAccessDenied, 1);
    (void)nuke.DeleteRegistryKey("HKEY_CURRENT_USER\\SOFTWARE\\KV\\ONCE");
    const std::string saved =
        reg_file_testing::Narrow(reg_file_testing::DecodeUtf16(m.files.Contents(BackupFile())));
    for (const std::string& key : keys)
        EXPECT_TRUE(saved.find("[" + key + "]\r\n\"Serial\"") != std::string::npos ||
                    m.registry.ValueExists(key, "Serial", View::K64))
            << key;
}

TEST_F(RegistryBackupTest, KeysDeletedBeforeOneBelowRefusesReadingAreInTheBackup) {
    m.registry.SetString(kKey + std::string("\\Alpha"), "Code", "ABCD-1234");
    m.registry.SetString(kKey + std::string("\\Zulu"), "Id", "7");
    m.registry.SecurityOf(kKey + std::string("\\Zulu"))->deniedAccess = platform::kKeyRead;
    (void)nuke.DeleteRegistryKey(kKey);
    ASSERT_FALSE(m.registry.Exists(kKey + std::string("\\Alpha")));
    RegFile file = ReadBackup();
    bool saved = false;
    for (const auto& key : file.keys)
        if (key.name == std::string(kReal32) + "\\Alpha") saved = key.values.size() == 1;
    EXPECT_TRUE(saved);
}

TEST_F(RegistryBackupTest, LinkInPlaceOfTheFolderGivesNoBackupOneErrorAndNoDeletion) {
    // Without a backup on the disk nothing is deleted; with one, the same entries go.
    auto run = [this](platform::sim::SimMachine& machine, engine::CNuke& engine, bool saved) {
        machine.registry.SetString(kKey, "V", "1");
        machine.registry.SetString(kKey + std::string("\\Sub"), "W", "2");
        machine.registry.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris", "V", "3");
        List(engine.regValueList, {"HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\V"});
        List(engine.regKeyList, {kKey});
        EXPECT_EQ(0u, engine.CleanupRegValues());
        EXPECT_EQ(0u, engine.CleanupRegKeys());
        EXPECT_EQ(!saved, machine.registry.Exists(kKey));
        EXPECT_EQ(!saved, machine.registry.ValueExists("HKEY_CURRENT_USER\\Software\\Kelvaris", "V"));
        EXPECT_EQ(saved ? 0u : 2u, engine.counts.keysFailed + engine.counts.valuesFailed);
    };
    m.files.CreateDirectories("C:\\Elsewhere");
    ASSERT_TRUE(m.files.CreateLink(kFolder, "C:\\Elsewhere", true));
    // Planted where only an administrator could: nothing a user put there to set aside.
    platform::sim::SimFileSecurity* tool = m.files.SecurityOf("C:\\Windows\\Logs\\SweepTool");
    tool->ownerSid = platform::kAdministratorsSid;
    tool->sddl = guard::kAdministratorsOnlySddl + 4;
    run(m, nuke, false);

    EXPECT_THAT(m.files.List("C:\\Elsewhere"), IsEmpty());
    ASSERT_NE(nullptr, nuke.registryBackup);
    EXPECT_TRUE(nuke.registryBackup->path().empty());
    std::vector<std::string> errors;
    for (const std::string& message : Messages())
        if (message.rfind("2 CNuke::RegistryBackup: ", 0) == 0) errors.push_back(message);
    ASSERT_EQ(1u, errors.size());
    EXPECT_THAT(errors[0], HasSubstr("error '681'"));

    KvQmrLogging::ResetForTests(nullptr);
    platform::sim::SimMachine clean;
    clean.registry.SetString(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        "Common AppData", "C:\\ProgramData");
    KvQmrLogging::ResetForTests(&clean.platform());
    KvQmrLogging::LogInitA("tool", "sweeptool", 6, KvQmrLogging::KeepFileOpen);
    engine::CNuke cleanNuke{clean.platform()};
    run(clean, cleanNuke, true);
    const bool cleanSaved = cleanNuke.registryBackup != nullptr && !cleanNuke.registryBackup->path().empty();
    KvQmrLogging::ResetForTests(nullptr);
    EXPECT_TRUE(cleanSaved);
}

TEST_F(RegistryBackupTest, FolderThatCannotBeFoundIsReportedOnceAndNothingIsDeleted) {
    m.faults.Fail("GetWindowsDirectoryA", platform::kErrorFileNotFound, -1);
    m.registry.SetString(kKey, "A", "1");
    m.registry.SetString(kKey, "B", "2");
    List(nuke.regValueList,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\A", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\B"});
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(2u, m.registry.ValuesUnder(kKey).size());
    EXPECT_EQ(2u, nuke.counts.valuesFailed);
    int errors = 0;
    for (const Record& r : Records())
        errors += r.level == 2 && r.message.rfind("CNuke::RegistryBackup: ", 0) == 0;
    EXPECT_EQ(1, errors);
    EXPECT_TRUE(
        Logged(3, "CNuke::CleanupRegValues: CleanupRegValues encountered errors but deleted '2' values"));
}

// A batch of saves shares one flush, made before the first of its deletions.
TEST_F(RegistryBackupTest, EachSaveIsOnTheDiskBeforeItsDeletionAndAFailedFlushStopsTheDeletions) {
    std::vector<std::string> listed;
    for (int i = 0; i < 66; ++i) {
        m.registry.SetString(kKey, "V" + std::to_string(i), "1");
        listed.push_back("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\V" + std::to_string(i));
    }
    for (const std::string& entry : listed) (void)nuke.regValueList.Insert(entry.c_str());
    std::string order;
    m.faults.SetHook([&order](const std::string& call) {
        order += call == "FlushFileBuffers" ? "F" : call == "RegDeleteValueA" ? "D" : "";
    });
    m.faults.Fail("FlushFileBuffers", platform::kErrorNotReady, 1, 1);  // the first batch reaches the disk
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    m.faults.SetHook(nullptr);
    EXPECT_EQ("F" + std::string(64, 'D') + "F", order);
    EXPECT_EQ(2u, m.registry.ValuesUnder(kKey).size());
    EXPECT_EQ(2u, nuke.counts.valuesFailed);
}

}  // namespace
}  // namespace removal_testing
