#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "actions/acl.h"
#include "actions/reg_file_reader.h"
#include "actions/registry_backup.h"
#include "actions/removal_fixture.h"
#include "platform/acl_text.h"
#include "platform/sim/sim_ansi.h"

namespace removal_testing {
namespace {

using platform::sim::View;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS";

class RegistryRemovalTest : public RemovalTest {};

// --- values ---

TEST_F(RegistryRemovalTest, ValueInTheDefaultViewIsDeletedThereAndTheOtherViewIsLeftAlone) {
    m.registry.SetString(kKey, "V", "32", View::K32);
    m.registry.SetString(kKey, "V", "64", View::K64);
    List(nuke.regValueList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\V"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());

    EXPECT_FALSE(m.registry.ValueExists(kKey, "V", View::K32));
    EXPECT_TRUE(m.registry.ValueExists(kKey, "V", View::K64));
    EXPECT_THAT(
        Messages(),
        ElementsAre("5 CNuke::DeleteRegistryValue: Deleting registry value "
                    "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS' was successful",
                    "5 CNuke::CleanupRegValues: CleanupRegValues was successful with '1' deleted values"));
}

TEST_F(RegistryRemovalTest, ValueOnlyIn64BitViewIsDeletedThereAfterNotFound) {
    m.registry.SetString(kKey, "V", "64", View::K64);
    List(nuke.regValueList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\V"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());

    EXPECT_FALSE(m.registry.ValueExists(kKey, "V", View::K64));
    EXPECT_THAT(
        Messages(),
        ElementsAre("4 CNuke::DeleteRegistryValue: Registry value 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS' "
                    "not found, let's try 64bit side...",
                    "5 CNuke::DeleteRegistryValue64bit: Deleting registry value 'SOFTWARE\\KELVARIS\\V' "
                    "was successful",
                    "5 CNuke::CleanupRegValues: CleanupRegValues was successful with '1' deleted values"));
}

TEST_F(RegistryRemovalTest, ValueNamesWithEncodedBackslashAndTheDefaultValue) {
    m.registry.SetString(kKey, "A\\B", "x");
    m.registry.SetString(kKey, "A", "kept");
    m.registry.SetString(kKey, "", "default");
    List(nuke.regValueList,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\A---B", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());

    EXPECT_THAT(m.registry.ValuesUnder(kKey), ElementsAre("A"));
    EXPECT_THAT(
        Messages(),
        ElementsAre("5 CNuke::DeleteRegistryValue: Deleting registry value "
                    "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\' was successful",
                    "5 CNuke::DeleteRegistryValue: Deleting registry value "
                    "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS' was successful",
                    "5 CNuke::CleanupRegValues: CleanupRegValues was successful with '2' deleted values"));
}

TEST_F(RegistryRemovalTest, MissingValueIsAnErrorInBothViewsAndOn32BitWindows) {
    m.registry.CreatePath(kKey, View::K64);
    List(nuke.regValueList,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\V", "HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\V"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_TRUE(Logged(5,
                       "CNuke::DeleteRegistryValue64bit: Registry value 'SOFTWARE\\KELVARIS\\V' is missing "
                       "already, nothing to delete..."));
    EXPECT_TRUE(
        Logged(3, "CNuke::LogErrorCode: Opening registry key 'SOFTWARE\\NOKEY' reported \"file\" not found"));
    EXPECT_TRUE(
        Logged(3, "CNuke::CleanupRegValues: CleanupRegValues encountered errors but deleted '2' values"));

    platform::sim::SimMachine old;
    old.system.is64BitWindows = false;
    engine::CNuke oldNuke(old.platform());
    EXPECT_FALSE(oldNuke.DeleteRegistryValue(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", "V", "OLD"));
    EXPECT_TRUE(Logged(
        5, "CNuke::DeleteRegistryValue: Registry value 'OLD' is missing already, nothing to delete..."));
}

TEST_F(RegistryRemovalTest, AccessDeniedValueGetsOneAccessListRewriteAndOneRetry) {
    m.registry.SetString(kKey, "V", "x");
    m.registry.SecurityOf(kKey)->deniedAccess = platform::kKeySetValue;
    List(nuke.regValueList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\V"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());

    EXPECT_FALSE(m.registry.ValueExists(kKey, "V"));
    EXPECT_EQ(1, m.faults.Calls("RegDeleteValueA"));
    EXPECT_EQ(1, m.faults.Calls("RegSetKeySecurity"));
    std::vector<platform::AceText> aces;
    ASSERT_TRUE(platform::ParseDaclText(m.registry.SecurityOf(kKey)->sddl, aces));
    EXPECT_THAT(aces, Contains(platform::AceText{0, 0, platform::kGenericAll, m.security.userSid}));
}

TEST_F(RegistryRemovalTest, ValueStillDeniedAfterTheRetryIsReportedByCode) {
    m.registry.SetString(kKey, "V", "x");
    m.faults.Fail("RegDeleteValueA", platform::kErrorAccessDenied, 2);
    List(nuke.regValueList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\V"});

    EXPECT_EQ(0u, nuke.CleanupRegValues());

    EXPECT_EQ(2, m.faults.Calls("RegDeleteValueA"));
    EXPECT_TRUE(
        Logged(3,
               "CNuke::LogErrorCode: Deleting registry value 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS' "
               "reported error code '5'"));
    EXPECT_TRUE(
        Logged(3, "CNuke::CleanupRegValues: CleanupRegValues encountered errors but deleted '1' values"));
}

TEST_F(RegistryRemovalTest, AccessDeniedIn64BitViewIsGrantedThroughA64BitHandleBeforeTheRetry) {
    m.registry.SetString(kKey, "V", "64", View::K64);
    m.faults.Fail("RegDeleteValueA", platform::kErrorAccessDenied, 1);

    EXPECT_EQ(0u, nuke.DeleteRegistryValue64bit(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", "V"));

    EXPECT_FALSE(m.registry.ValueExists(kKey, "V", View::K64));
    EXPECT_EQ(1, m.faults.Calls("RegSetKeySecurity"));
    std::vector<platform::AceText> aces;
    ASSERT_TRUE(platform::ParseDaclText(m.registry.SecurityOf(kKey, View::K64)->sddl, aces));
    EXPECT_THAT(aces, Contains(platform::AceText{0, 0, platform::kGenericAll, m.security.userSid}));
    EXPECT_THAT(aces, Not(Contains(platform::AceText{0, 0x0B, platform::kGenericAll, m.security.userSid})));
    // The 32-bit view's key was not touched.
    EXPECT_TRUE(m.registry.SecurityOf(kKey, View::K32) == nullptr ||
                m.registry.SecurityOf(kKey)->sddl.empty());
    EXPECT_EQ(0, m.registry.OpenHandles());
}

// --- keys ---

TEST_F(RegistryRemovalTest, SubkeysListedBesideTheirParentGoFirst) {
    m.registry.CreatePath(std::string(kKey) + "\\B\\C");
    List(nuke.regKeyList,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\B", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\B\\C"});

    EXPECT_EQ(0u, nuke.CleanupRegKeys());

    EXPECT_FALSE(m.registry.Exists(std::string(kKey) + "\\B"));
    EXPECT_THAT(
        Messages(),
        ElementsAre("5 CNuke::DeleteRegistryKey: Deleting registry key "
                    "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\B\\C' was successful",
                    "5 CNuke::DeleteRegistryKey: Deleting registry key "
                    "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\B' was successful",
                    "5 CNuke::CleanupRegKeys: CleanupRegKeys was successful with '2' deleted values"));
}

// The control set in use is reached through the link the system makes to it.
TEST_F(RegistryRemovalTest, KeyBelowTheCurrentControlSetIsSavedAndDeleted) {
    const std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\KvDriver";
    m.registry.SetString(key + "\\Parameters", "Mode", "1", View::K64);
    // While Select names another set than the link leads to, the link is refused as any other.
    const std::string other = "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\KvDriver";
    m.registry.CreatePath(other, View::K64);
    m.registry.SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select", "Current", 2, View::K64);
    (void)nuke.DeleteRegistryKey(key.c_str());
    EXPECT_TRUE(m.registry.Exists(key, View::K64) && m.registry.Exists(other, View::K64));
    m.registry.SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select", "Current", 1, View::K64);
    List(nuke.regKeyList, {"HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\KVDRIVER"});
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_FALSE(
        m.registry.Exists("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\KvDriver", View::K64));
    ASSERT_NE(nullptr, nuke.registryBackup);
    reg_file_testing::Import(reg_file_testing::ParseRegFile(m.files.Contents(nuke.registryBackup->path())),
                             m.registry);
    EXPECT_NE(nullptr, m.registry.GetValue(key + "\\Parameters", "Mode", View::K64));
}

TEST_F(RegistryRemovalTest, KeyIn64BitViewOnlyIsDeletedThereAsOneKey) {
    m.registry.CreatePath(std::string(kKey) + "\\LEAF", View::K64);
    m.registry.CreatePath(std::string(kKey) + "\\TREE\\SUB", View::K64);
    List(nuke.regKeyList,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\LEAF", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\TREE"});

    EXPECT_EQ(0u, nuke.CleanupRegKeys());

    EXPECT_FALSE(m.registry.Exists(std::string(kKey) + "\\LEAF", View::K64));
    EXPECT_TRUE(m.registry.Exists(std::string(kKey) + "\\TREE\\SUB", View::K64));
    EXPECT_TRUE(Logged(5,
                       "CNuke::DeleteRegistryKey64bit: Deleting registry key "
                       "'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\LEAF' was successful"));
    EXPECT_TRUE(
        Logged(3,
               "CNuke::LogErrorCode: Deleting registry key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\TREE' "
               "reported error code '5'"));
    EXPECT_TRUE(Logged(3, "CNuke::CleanupRegKeys: CleanupRegKeys encountered errors but deleted '2' values"));
    EXPECT_EQ(0, m.registry.OpenHandles());
}

TEST_F(RegistryRemovalTest, MissingKeyIsSuccessOn32BitWindowsAndAnErrorUnderWow64) {
    List(nuke.regKeyList,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\NOTHERE", "HKEY_LOCAL_MACHINE\\SOFTWARE\\NOPARENT\\KEY"});
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_TRUE(
        Logged(5,
               "CNuke::DeleteRegistryKey64bit: Registry key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\NOTHERE' is "
               "missing already, nothing to delete..."));
    EXPECT_TRUE(Logged(
        3, "CNuke::LogErrorCode: Opening registry key 'SOFTWARE\\NOPARENT' reported \"file\" not found"));
    EXPECT_TRUE(Logged(3, "CNuke::CleanupRegKeys: CleanupRegKeys encountered errors but deleted '2' values"));

    // An engine knows its kind of process from its first question on.
    m.system.is64BitWindows = false;
    engine::CNuke on32(m.platform());
    EXPECT_TRUE(on32.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\NOTHERE"));
    EXPECT_TRUE(
        Logged(5,
               "CNuke::DeleteRegistryKey: Registry key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\NOTHERE' is missing "
               "already, nothing to delete..."));
}

TEST_F(RegistryRemovalTest, KeyDirectlyBelowTheRootIsDeletedIn64BitView) {
    m.registry.CreatePath("HKEY_CURRENT_USER\\KVTOP", View::K64);
    m.faults.Fail("RegOpenKeyExA", platform::kErrorFileNotFound, 1);

    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_CURRENT_USER\\KVTOP"));
    EXPECT_FALSE(m.registry.Exists("HKEY_CURRENT_USER\\KVTOP", View::K64));
}

TEST_F(RegistryRemovalTest, AccessDeniedKeyIsOpenedUpForTheUserAndDeleted) {
    m.registry.CreatePath(kKey);
    m.registry.SecurityOf(kKey)->deniedAccess = platform::kDelete;

    EXPECT_TRUE(nuke.DeleteRegistryKey(kKey));

    EXPECT_FALSE(m.registry.Exists(kKey));
    EXPECT_EQ(1, m.faults.Calls("NtDeleteKey"));
}

TEST_F(RegistryRemovalTest, RewriteReplacesTheUsersDenialButKeepsThoseOfItsGroups) {
    const std::string user = "HKEY_CURRENT_USER\\Software\\DENYUSER",
                      group = "HKEY_CURRENT_USER\\Software\\DENYALL";
    m.registry.CreatePath(user);
    m.registry.CreatePath(group);
    std::string denyUser = "D:P(D;;GA;;;" + m.security.userSid + ")(A;;GA;;;SY)";
    ASSERT_EQ(0u,
              m.security.SetNamedSecurityInfoA("CURRENT_USER\\Software\\DENYUSER", platform::kSeRegistryKey,
                                               0x80000004, nullptr, denyUser.c_str()));
    ASSERT_EQ(0u,
              m.security.SetNamedSecurityInfoA("CURRENT_USER\\Software\\DENYALL", platform::kSeRegistryKey,
                                               0x80000004, nullptr, "D:P(D;;GA;;;WD)"));

    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_CURRENT_USER\\SOFTWARE\\DENYUSER"));
    EXPECT_FALSE(m.registry.Exists(user));
    // Everyone's denial stays ahead of the user's new entries, so this key stays.
    EXPECT_FALSE(nuke.DeleteRegistryKey("HKEY_CURRENT_USER\\SOFTWARE\\DENYALL"));
    EXPECT_TRUE(m.registry.Exists(group));
    EXPECT_TRUE(Logged(3,
                       "CNuke::LogErrorCode: Deleting registry key 'HKEY_CURRENT_USER\\SOFTWARE\\DENYALL' "
                       "reported error code '5'"));
}

// The rewrite before the retry is the key's own: a user's inheritable grant on it reaches
// nothing below, and the subkey that keeps the key in place keeps its list.
TEST_F(RegistryRemovalTest, TheRewriteOfAKeyPassesNothingDownToTheSubkeyThatStays) {
    const std::string kept = std::string(kKey) + "\\Kept";
    m.registry.CreatePath(kept);
    m.registry.SecurityOf(kKey)->sddl = "D:(A;CI;0xf003f;;;S-1-5-32-544)(A;CI;GA;;;S-1-5-21-7-7-7-1001)";
    m.registry.SecurityOf(kKey)->deniedAccess = platform::kDelete;
    platform::sim::SimKeySecurity* s = m.registry.SecurityOf(kept);
    s->sddl = "D:(D;;0x10000;;;S-1-1-0)(A;CI;0xf003f;;;S-1-5-32-544)";
    s->deniedAccess = platform::kDelete;

    EXPECT_FALSE(nuke.DeleteRegistryKey(kKey));

    EXPECT_EQ("D:(D;;0x10000;;;S-1-1-0)(A;CI;0xf003f;;;S-1-5-32-544)", m.registry.SecurityOf(kept)->sddl);
    EXPECT_EQ(1, m.faults.Calls("RegSetKeySecurity"));
}

TEST_F(RegistryRemovalTest, KeyOwnedBySomeoneElseIsTakenOverWhenItsListCannotBeRewritten) {
    m.registry.CreatePath(kKey);
    platform::sim::SimKeySecurity* s = m.registry.SecurityOf(kKey);
    s->ownerSid = "S-1-5-18";
    s->deniedAccess = platform::kDelete | platform::kWriteDac;

    EXPECT_TRUE(nuke.DeleteRegistryKey(kKey));

    EXPECT_FALSE(m.registry.Exists(kKey));
    EXPECT_EQ(2, m.faults.Calls("RegSetKeySecurity"));  // the owner, then the list
    EXPECT_EQ(0u, m.system.enabledPrivileges.count(platform::kSeTakeOwnershipName));
}

TEST_F(RegistryRemovalTest, AccessDeniedIn64BitViewTakesOwnershipWhenTheListIsLocked) {
    std::string key = std::string(kKey) + "\\LOCKED";
    m.registry.CreatePath(key, View::K64);
    platform::sim::SimKeySecurity* s = m.registry.SecurityOf(key, View::K64);
    s->ownerSid = "S-1-5-18";
    s->deniedAccess = platform::kDelete | platform::kWriteDac;
    List(nuke.regKeyList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\LOCKED"});

    EXPECT_EQ(0u, nuke.CleanupRegKeys());

    EXPECT_FALSE(m.registry.Exists(key, View::K64));
    EXPECT_EQ(1, m.faults.Calls("NtDeleteKey"));
    EXPECT_TRUE(Logged(5, "CNuke::CleanupRegKeys: CleanupRegKeys was successful with '1' deleted values"));
}

TEST_F(RegistryRemovalTest, MissingEntryPointsAbortThe64BitSide) {
    m.system.missingEntryPoints.insert("RegDeleteKeyExA");
    m.registry.CreatePath(std::string(kKey) + "\\X", View::K64);

    EXPECT_EQ(10u, nuke.DeleteRegistryKey64bit("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\X"));
    EXPECT_EQ(10u, nuke.DeleteRegistryValue64bit(platform::kHkeyLocalMachine, "SOFTWARE\\KELVARIS", "V"));
    EXPECT_TRUE(
        Logged(2,
               "CNuke::DeleteRegistryKey64bit: GetProcAddress for RegDeleteKeyEx failed. 64 bit deletion "
               "aborted."));
    EXPECT_TRUE(Logged(2,
                       "CNuke::DeleteRegistryValue64bit: GetProcAddress for RegDeleteKeyValue failed. 64 bit "
                       "deletion aborted."));
    EXPECT_TRUE(m.registry.Exists(std::string(kKey) + "\\X", View::K64));

    // Without IsWow64Process the system counts as 32-bit: a missing key is simply missing.
    m.system.missingEntryPoints.insert("IsWow64Process");
    EXPECT_FALSE(nuke.IsWow64());
    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\X"));
}

TEST_F(RegistryRemovalTest, EntriesThatNameNoKeyAreSkippedAndCountAsErrors) {
    m.registry.CreatePath("HKEY_CURRENT_USER\\Software\\Keep");
    std::string tooLong = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(300, 'K');
    List(nuke.regKeyList, {"SOFTWARE\\KELVARIS", "HKEY_CURRENT_USER\\\\", tooLong.c_str()});
    List(nuke.regValueList, {"SOFTWARE\\KELVARIS\\V", "HKEY_LOCAL_MACHINE\\V"});

    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_EQ(0u, nuke.CleanupRegValues());

    EXPECT_TRUE(m.registry.Exists("HKEY_CURRENT_USER\\Software\\Keep"));
    EXPECT_EQ(0, m.faults.Calls("SHDeleteKeyA"));
    EXPECT_EQ(0, m.faults.Calls("SHDeleteValueA"));
    EXPECT_TRUE(
        Logged(3, "CNuke::DeleteRegistryKey: Registry entry 'SOFTWARE\\KELVARIS' has no root key, skipped"));
    EXPECT_TRUE(
        Logged(3,
               "CNuke::DeleteRegistryKey: Registry entry 'HKEY_CURRENT_USER\\\\' names no key below its "
               "root, skipped"));
    EXPECT_TRUE(Logged(3, "CNuke::DeleteRegistryKey: Registry entry '" + tooLong + "' is too long, skipped"));
    EXPECT_TRUE(
        Logged(3, "CNuke::CleanupRegValues: Registry entry 'HKEY_LOCAL_MACHINE\\V' names no value, skipped"));
    EXPECT_TRUE(Logged(3, "CNuke::CleanupRegKeys: CleanupRegKeys encountered errors but deleted '3' values"));
    EXPECT_TRUE(
        Logged(3, "CNuke::CleanupRegValues: CleanupRegValues encountered errors but deleted '2' values"));
}

TEST_F(RegistryRemovalTest, RootWithoutCanonicalNameIsStillDeleted) {
    m.registry.CreatePath("HKEY_CURRENT_CONFIG\\KV");

    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_CURRENT_CONFIG\\KV"));

    EXPECT_FALSE(m.registry.Exists("HKEY_CURRENT_CONFIG\\KV"));
    EXPECT_THAT(
        Messages(),
        ElementsAre(
            "2 CNuke::ParseRegKeyPrefix: Warning: ParseRegKeyPrefix received invalid hrootKey parameter",
            "5 CNuke::DeleteRegistryKey: Deleting registry key '\\KV' was successful"));
    EXPECT_EQ(2u, actions::DropRegKeyAcl(m.platform(), platform::kHkeyCurrentConfig, "KV"));
}

TEST_F(RegistryRemovalTest, EmptyListsReportSuccessWithZero) {
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_THAT(
        Messages(),
        ElementsAre("5 CNuke::CleanupRegValues: CleanupRegValues was successful with '0' deleted "
                    "values",
                    "5 CNuke::CleanupRegKeys: CleanupRegKeys was successful with '0' deleted values"));
}

// --- the shared records ---

TEST_F(RegistryRemovalTest, ErrorCodesAreWordedByCode) {
    nuke.LogErrorCode(2, "Deleting registry key", "K");
    nuke.LogErrorCode(6, "Deleting registry key", "K");
    nuke.LogErrorCode(145, "Deleting registry key", "K");
    nuke.LogErrorCode(1018, "Opening registry key", "K");
    EXPECT_THAT(Messages(),
                ElementsAre("3 CNuke::LogErrorCode: Deleting registry key 'K' reported \"file\" not found",
                            "3 CNuke::LogErrorCode: Deleting registry key 'K' reported invalid handle",
                            "3 CNuke::LogErrorCode: Deleting registry key 'K' reported the directory is "
                            "not empty",
                            "3 CNuke::LogErrorCode: Opening registry key 'K' reported error code '1018'"));
}

TEST_F(RegistryRemovalTest, ListContentIsLoggedBetweenMarkersInSetOrder) {
    engine::TSet list;
    List(list, {"B", "a"});
    nuke.LogListContent(list);
    EXPECT_THAT(Messages(),
                ElementsAre("5 CNuke::LogListContent: --- --- --- Logging list contents... --- --- ---",
                            "5 CNuke::LogListContent: a", "5 CNuke::LogListContent: B",
                            "5 CNuke::LogListContent: --- --- --- List content logged! --- --- ---"));
}

// --- access lists ---

struct DaclCase {
    const char* name;
    const char* old;  // null: no old DACL
    bool replace;
    bool addThis;
    bool addInheritable;
    const char* expected;
};

constexpr char kUser[] = "S-1-5-21-1-2-3-1000";

class BuildAccountDaclTest : public ::testing::TestWithParam<DaclCase> {};

TEST_P(BuildAccountDaclTest, Builds) {
    const DaclCase& c = GetParam();
    std::string old = c.old != nullptr ? c.old : "";
    std::string out;
    ASSERT_EQ(0u, actions::BuildAccountDacl(&out, c.old != nullptr ? &old : nullptr, kUser,
                                            platform::kGenericAll, c.replace, c.addThis, c.addInheritable));
    EXPECT_EQ(c.expected, out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildAccountDaclTest,
    ::testing::Values(
        DaclCase{"NoOldList", nullptr, false, true, true,
                 "D:(A;;0x10000000;;;S-1-5-21-1-2-3-1000)(A;OICIIO;0x10000000;;;S-1-5-21-1-2-3-1000)"},
        DaclCase{"AfterExplicitDenyBeforeAllowAndInherited", "D:(D;;0x1;;;WD)(A;;KR;;;BA)(A;ID;GA;;;SY)",
                 false, true, true,
                 "D:(D;;0x1;;;S-1-1-0)(A;;0x10000000;;;S-1-5-21-1-2-3-1000)"
                 "(A;OICIIO;0x10000000;;;S-1-5-21-1-2-3-1000)(A;;0x20019;;;S-1-5-32-544)(A;ID;0x10000000;;;S-"
                 "1-5-18)"},
        DaclCase{"TheAccountsOwnEntriesGo",
                 "D:(D;;0x10000;;;S-1-5-21-1-2-3-1000)(A;;0x1;;;s-1-5-21-1-2-3-1000)(A;;0x1;;;WD)", false,
                 true, false, "D:(A;;0x10000000;;;S-1-5-21-1-2-3-1000)(A;;0x1;;;S-1-1-0)"},
        DaclCase{"OnlyDenialsMeansAppend", "D:P(D;;0x10000;;;WD)", false, false, true,
                 "D:(D;;0x10000;;;S-1-1-0)(A;OICIIO;0x10000000;;;S-1-5-21-1-2-3-1000)"},
        DaclCase{"ReplaceDropsTheOldList", "D:(A;;0x1;;;WD)", true, true, false,
                 "D:(A;;0x10000000;;;S-1-5-21-1-2-3-1000)"}),
    [](const ::testing::TestParamInfo<DaclCase>& info) { return std::string(info.param.name); });

TEST(BuildAccountDacl, RefusesWhatItCannotBuild) {
    std::string out, bad = "D:(XA;;0x1;;;WD)";
    EXPECT_EQ(87u, actions::BuildAccountDacl(nullptr, nullptr, kUser, 1, false, true, true));
    EXPECT_EQ(87u, actions::BuildAccountDacl(&out, nullptr, nullptr, 1, false, true, true));
    EXPECT_EQ(87u, actions::BuildAccountDacl(&out, nullptr, kUser, 1, false, false, false));
    EXPECT_EQ(1336u, actions::BuildAccountDacl(&out, &bad, kUser, 1, false, true, true));
    EXPECT_TRUE(out.empty());
}

TEST_F(RegistryRemovalTest, AccountSidAndObjectNames) {
    std::string sid = "stale";
    EXPECT_EQ(0u, actions::GetAccountSid(m.platform(), &sid, "Administrator"));
    EXPECT_EQ(m.security.userSid, sid);
    EXPECT_EQ(1332u, actions::GetAccountSid(m.platform(), &sid, "nobody"));
    EXPECT_TRUE(sid.empty());
    m.faults.Fail("LookupAccountNameA", platform::kErrorNotEnoughMemory, 1, 1);
    EXPECT_EQ(8u, actions::GetAccountSid(m.platform(), &sid, "Administrator"));
    EXPECT_TRUE(sid.empty());
    EXPECT_EQ(87u, actions::GetAccountSid(m.platform(), nullptr, "Administrator"));

    char name[actions::kObjectNameBuffer];
    EXPECT_EQ(0u,
              actions::FormatRegKeyObjectName(platform::kHkeyLocalMachine, "SOFTWARE\\X", name, sizeof name));
    EXPECT_STREQ("MACHINE\\SOFTWARE\\X", name);
    EXPECT_EQ(2u, actions::FormatRegKeyObjectName(platform::kHkeyDynData, "X", name, sizeof name));
    char small[8];
    EXPECT_EQ(122u, actions::FormatRegKeyObjectName(platform::kHkeyUsers, "S-1-5-18", small, sizeof small));
    EXPECT_STREQ("", small);
}

// The deletion of a listed key takes its whole subtree in the default view, which under
// WOW64 is the 32-bit copy the working lists never walked.
TEST_F(RegistryRemovalTest, IgnoredEntriesInTheDefaultViewSubtreeSurviveTheKeyDeletion) {
    const std::string root = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris";
    m.registry.SetString(root, "Top", "1", View::K32);
    m.registry.SetString(root + "\\Keep\\Inner", "Held", "1", View::K32);
    m.registry.SetString(root + "\\Gone\\Deep", "Lost", "1", View::K32);
    m.registry.SetString(root + "\\Mixed", "Stay", "1", View::K32);
    m.registry.SetString(root + "\\Mixed", "Go", "1", View::K32);
    m.registry.SetString(root + "\\Mixed\\Sub", "A\\B", "1", View::K32);
    m.registry.SetString(root, "Top", "64", View::K64);
    List(nuke.ignoreRegKeyList, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP"});
    List(nuke.ignoreRegValueList, {"kelvaris\\mixed\\stay", "MIXED\\SUB\\A---B"});

    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
    EXPECT_TRUE(m.registry.ValueExists(root + "\\Keep\\Inner", "Held", View::K32));
    EXPECT_TRUE(m.registry.ValueExists(root + "\\Mixed", "Stay", View::K32));
    EXPECT_TRUE(m.registry.ValueExists(root + "\\Mixed\\Sub", "A\\B", View::K32));
    EXPECT_FALSE(m.registry.ValueExists(root + "\\Mixed", "Go", View::K32));
    EXPECT_FALSE(m.registry.ValueExists(root, "Top", View::K32));
    EXPECT_FALSE(m.registry.Exists(root + "\\Gone", View::K32));
    // The 64-bit copy is not this deletion's business: the default view had the key.
    EXPECT_TRUE(m.registry.ValueExists(root, "Top", View::K64));
    EXPECT_TRUE(Logged(3,
                       "CNuke::DeleteRegistryKey: Registry key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS' "
                       "holds ignored entries, only what they do not cover is deleted"));

    // Without value ignores a key ignore still holds; with nothing covered the key goes whole.
    for (engine::TSet* list : {&nuke.ignoreRegValueList, &nuke.ignoreRegKeyList}) {
        const char* t = nullptr;
        for (uint32_t r = list->First(&t); r == 0;) r = list->RemoveCurrent(&t);
        EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
        EXPECT_EQ(list == &nuke.ignoreRegValueList, m.registry.Exists(root + "\\Keep", View::K32));
    }
    EXPECT_FALSE(m.registry.Exists(root, View::K32));
}

// A link below a listed key goes itself: what it points to is neither followed nor saved.
TEST_F(RegistryRemovalTest, LinkBelowAListedKeyIsDeletedUnfollowedAndKeptOutOfTheBackup) {
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Victim", "Secret", "victim", View::K64);
    ASSERT_EQ(
        0u, m.registry.UserCreateLinkKey("HKEY_CURRENT_USER\\Software\\Kv\\Evil", "HKLM\\SOFTWARE\\Victim"));
    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_CURRENT_USER\\SOFTWARE\\KV"));
    EXPECT_TRUE(Logged(
        3, "CNuke::DeleteRegistryKey: 'HKEY_CURRENT_USER\\SOFTWARE\\KV\\Evil' is a link, not followed"));
    ASSERT_NE(nullptr, nuke.registryBackup);
    EXPECT_EQ(std::string::npos,
              m.files.Contents(nuke.registryBackup->path()).find(std::string("S\0e\0c\0r\0e\0t", 11)));
}

// The parents a step holds from key to key, and those it found missing, belong to their root.
TEST_F(RegistryRemovalTest, TheSamePathUnderTwoRootsIsHandledUnderEach) {
    for (const char* root : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"})
        m.registry.SetString(std::string(root) + "\\SOFTWARE\\KELVARIS\\K", "V", "1");
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\KVVALUES\\X", "V", "1");
    List(nuke.regValueList,
         {"HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\K\\V", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\K\\V",
          "HKEY_CURRENT_USER\\SOFTWARE\\KVVALUES\\X\\V", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KVVALUES\\X\\V"});
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(3u, nuke.counts.valuesDeleted);  // all but the one of the missing key
}

// Under a legacy code page the narrow enumeration shows "Ωmega" as "Omega", the name of an
// ignored key beside it, and "报告" as "??": nothing is done by those names. In UTF-8 every
// name is its own.
TEST_F(RegistryRemovalTest, NamesTheCodePageCannotSpellAreLeftWithARecordAndCountedFailed) {
    for (const uint32_t codePage : {1252u, platform::kCodePageUtf8}) {
        SCOPED_TRACE(codePage);
        platform::sim::ScopedAnsiCodePage ansi(codePage);
        const bool legacy = codePage == 1252;
        const std::string product = "KELVARIS" + std::to_string(codePage);
        const std::string listed = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + product;
        platform::IRegistry& reg = m.registry;
        platform::RegKey raw = 0, sub = 0;
        ASSERT_EQ(0u, reg.CreateKeyEx(platform::kHkeyLocalMachine, "SOFTWARE\\" + product, 0,
                                      platform::kKeyAllAccess | platform::kKeyWow64_64Key, raw, nullptr));
        platform::UniqueRegKey key(&reg, raw);
        // A name of 300 UTF-8 bytes, too long for a listed path, before "报告": it is refused alone.
        const std::u16string longName(100, u'\u4e00');
        for (const std::u16string& name : {std::u16string(u"\u03a9mega"), std::u16string(u"Omega"),
                                           std::u16string(u"\u62a5\u544a"), longName}) {
            ASSERT_EQ(0u, reg.CreateKeyExW(key.get(), name, 0, platform::kKeyAllAccess, sub, nullptr));
            reg.CloseKey(sub);
        }
        for (const char16_t* name : {u"\u03a9val", u"plain"})
            ASSERT_EQ(0u, reg.SetValueExW(key.get(), name, platform::kRegSz, u"1", 4));
        engine::CNuke run(m.platform());
        ASSERT_EQ(0u, run.removeRegKeyList.Insert(listed.c_str()));
        ASSERT_EQ(0u, run.ignoreRegKeyList.Insert((listed + "\\OMEGA").c_str()));
        EXPECT_EQ(0u, run.ExpandLists() + run.CleanupRegValues() + run.CleanupRegKeys());

        for (const char16_t* name : {u"Omega", u"\u03a9mega", u"\u62a5\u544a"}) {
            const bool there = reg.OpenKeyExW(key.get(), name, platform::kKeyRead, sub) == 0;
            if (there) reg.CloseKey(sub);
            EXPECT_EQ(legacy || name[0] == u'O', there);
        }
        uint32_t size = 0;
        EXPECT_EQ(legacy ? 0u : 2u, reg.QueryValueExW(key.get(), u"\u03a9val", nullptr, nullptr, &size));
        EXPECT_EQ(2u, reg.QueryValueExW(key.get(), u"plain", nullptr, nullptr, &size));
        const std::string cannot = "' has a name the ANSI code page 1252 cannot spell: not removed";
        for (const std::string& object :
             {"key '" + listed + "\\\u03a9mega", "key '" + listed + "\\\u62a5\u544a",
              "value '" + listed + "\\\u03a9val"})
            EXPECT_EQ(legacy, Logged(2, "CNuke::AddRegKeyTree: Registry " + object + cannot)) << object;
        EXPECT_EQ(legacy ? 3u : 1u, run.counts.keysFailed);
        EXPECT_EQ(legacy ? 1u : 0u, run.counts.valuesFailed);
        EXPECT_EQ(!legacy, Logged(2, "CNuke::AddRegKeyTree: Registry key '" + listed + "\\" +
                                         platform::Utf16ToAnsi(longName) +
                                         "' is longer than 260 bytes as a listed object: not removed"));
        EXPECT_EQ(0u, reg.OpenKeyExW(key.get(), longName, platform::kKeyRead, sub));
        reg.CloseKey(sub);

        // The default view's copy, which the walk never saw: the deletion keeps such a key and
        // the keys above it, and takes the rest.
        ASSERT_EQ(0u, reg.CreateKeyExW(platform::kHkeyLocalMachine,
                                       u"SOFTWARE\\" + platform::AnsiToUtf16(product) + u"\\\u03a9mega", 0,
                                       platform::kKeyAllAccess, sub, nullptr));
        reg.CloseKey(sub);
        m.registry.CreatePath(listed + "\\Gone", View::K32);
        EXPECT_TRUE(run.DeleteRegistryKey(listed.c_str()));
        EXPECT_FALSE(m.registry.Exists(listed + "\\Gone", View::K32));
        EXPECT_EQ(legacy, m.registry.Exists(listed, View::K32));
        EXPECT_EQ(legacy,
                  Logged(2, "CNuke::DeleteRegistryKey: Registry key '" + listed + "\\\u03a9mega" + cannot));
        EXPECT_EQ(legacy ? 4u : 1u, run.counts.keysFailed);
    }
}

// What a product of many keys costs is the calls per key: each key and value is opened once
// for its backup, saved ahead of its batch, and once for its deletion, inside the parent held
// for its siblings, and each key's subkeys are listed once for the spelling of all of them,
// whatever the tree's depth.
TEST_F(RegistryRemovalTest, TheRegistryStepsOpenEachListedObjectOnce) {
    for (int i = 0; i < 60; ++i)
        m.registry.SetString(
            std::string(kKey) + "\\P" + std::to_string(i / 20) + "\\K" + std::to_string(i % 20), "Data", "x",
            View::K64);
    (void)nuke.removeRegKeyList.Insert(kKey);
    ASSERT_EQ(0u, nuke.PopulateRemoveRegList());
    const int objects = static_cast<int>(nuke.regKeyList.Count() + nuke.regValueList.Count());
    ASSERT_EQ(124, objects);
    m.faults.ResetCounts();
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_FALSE(m.registry.Exists(kKey, View::K64));
    EXPECT_LE(m.faults.Calls("RegOpenKeyExA"), objects * 3);
    EXPECT_LE(m.faults.Calls("RegEnumKeyExA") + m.faults.Calls("RegEnumKeyExW"), objects * 2);
    EXPECT_LE(m.faults.Calls("FlushFileBuffers"), objects / 8);
    EXPECT_EQ(0, m.registry.OpenHandles());
}

}  // namespace
}  // namespace removal_testing
