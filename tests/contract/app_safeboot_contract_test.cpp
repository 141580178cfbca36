// The application's safe-boot preparation and restart privilege work the same on the
// simulated machine and on the real one.
#include <gtest/gtest.h>

#include <cstring>

#include "app/scour_app.h"
#include "contract/backend.h"
#include "guard/held_path.h"

namespace {

bool KeyExists(platform::Platform& os, const char* path) {
    platform::RegKey raw = 0;
    if (os.reg.OpenKeyEx(platform::kHkeyLocalMachine, path, platform::kKeyRead, raw) != 0) return false;
    platform::UniqueRegKey key(&os.reg, raw);
    return true;
}

std::string DefaultValue(platform::Platform& os, const char* path) {
    platform::RegKey raw = 0;
    if (os.reg.OpenKeyEx(platform::kHkeyLocalMachine, path, platform::kKeyRead, raw) != 0) return "<no key>";
    platform::UniqueRegKey key(&os.reg, raw);
    char data[64];
    std::memset(data, 0xef, sizeof(data));
    uint32_t type = 0xdeadbeef, size = sizeof(data) - 1;
    if (os.reg.QueryValueEx(key.get(), nullptr, &type, data, &size) != 0) return "<no value>";
    if (type != platform::kRegSz) return "<wrong type>";
    return std::string(data, strnlen(data, size));
}

TEST(AppSafeBootContract, NetworkKeyIsWrittenWithServiceAndDeletedAtExit) {
    platform::Platform& os = contract::GetBackend().os();
    (void)os.reg.DeleteKey(platform::kHkeyLocalMachine, app::kSafeBootNetworkKey);
    {
        app::CScourApp application(os);
        application.safeBootMode = 2;
        ASSERT_TRUE(application.RegisterSafeBootInstaller());
        EXPECT_STREQ(application.safeBootKey, app::kSafeBootNetworkKey);
        EXPECT_EQ(DefaultValue(os, app::kSafeBootNetworkKey), "Service");
        EXPECT_FALSE(KeyExists(os, app::kSafeBootMinimalKey));
    }
    EXPECT_FALSE(KeyExists(os, app::kSafeBootNetworkKey));
}

TEST(AppSafeBootContract, AnAdministratorsOwnRegistrationStays) {
    platform::Platform& os = contract::GetBackend().os();
    (void)os.reg.DeleteKey(platform::kHkeyLocalMachine, app::kSafeBootMinimalKey);
    platform::RegKey raw = 0;
    uint32_t disposition = 0xdeadbeef;
    uint32_t rc =
        os.reg.CreateKeyEx(platform::kHkeyLocalMachine, app::kSafeBootMinimalKey,
                           platform::kRegOptionNonVolatile, platform::kKeyAllAccess, raw, &disposition);
    // Where Windows has no SafeBoot tree (Wine), the tool's volatile registration made the
    // folders above it volatile too, and only a volatile key may go below them
    // (ERROR_CHILD_MUST_BE_VOLATILE).
    if (rc == 1021u)
        rc = os.reg.CreateKeyEx(platform::kHkeyLocalMachine, app::kSafeBootMinimalKey,
                                platform::kRegOptionVolatile, platform::kKeyAllAccess, raw, &disposition);
    ASSERT_EQ(rc, 0u);
    EXPECT_EQ(disposition, static_cast<uint32_t>(platform::kRegCreatedNewKey));
    {
        platform::UniqueRegKey key(&os.reg, raw);
        static const char kService[] = "Service";
        ASSERT_EQ(os.reg.SetValueEx(key.get(), nullptr, platform::kRegSz, kService, sizeof(kService)), 0u);
    }
    {
        app::CScourApp application(os);
        application.safeBootMode = 1;
        ASSERT_TRUE(application.RegisterSafeBootInstaller());
        EXPECT_FALSE(application.safeBootKeyCreated);
    }
    EXPECT_EQ(DefaultValue(os, app::kSafeBootMinimalKey), "Service");
    (void)os.reg.DeleteKey(platform::kHkeyLocalMachine, app::kSafeBootMinimalKey);
}

TEST(AppSafeBootContract, MinimalKeyForFailSafeBoot) {
    platform::Platform& os = contract::GetBackend().os();
    {
        app::CScourApp application(os);
        application.safeBootMode = 1;
        ASSERT_TRUE(application.RegisterSafeBootInstaller());
        EXPECT_EQ(DefaultValue(os, app::kSafeBootMinimalKey), "Service");
    }
    EXPECT_FALSE(KeyExists(os, app::kSafeBootMinimalKey));
}

TEST(AppSafeBootContract, NormalBootWritesNothing) {
    platform::Platform& os = contract::GetBackend().os();
    app::CScourApp application(os);
    application.safeBootMode = 0;
    EXPECT_TRUE(application.RegisterSafeBootInstaller());
    EXPECT_EQ(application.safeBootKey, nullptr);
    EXPECT_FALSE(KeyExists(os, app::kSafeBootMinimalKey));
    EXPECT_FALSE(KeyExists(os, app::kSafeBootNetworkKey));
}

TEST(AppSafeBootContract, InstallerServiceStartsOrIsAlreadyRunning) {
    contract::Backend& backend = contract::GetBackend();
    backend.EnsureService("msiserver");
    platform::Platform& os = backend.os();
    {
        app::CScourApp application(os);
        application.safeBootMode = 2;
        EXPECT_TRUE(application.StartInstallerService());
        // A second start finds it running (or, on a machine that stops it at once, starts it again).
        EXPECT_TRUE(application.StartInstallerService());
    }
    EXPECT_FALSE(KeyExists(os, app::kSafeBootNetworkKey));
}

TEST(AppRestartContract, ShutdownPrivilegeCanBeEnabledOnTheProcessToken) {
    platform::ISystem& sys = contract::GetBackend().os().sys;
    platform::TokenHandle raw = 0xdeadbeef;
    ASSERT_TRUE(sys.OpenProcessToken(platform::kTokenAdjustPrivileges | platform::kTokenQuery, raw));
    platform::UniqueToken token(&sys, raw);
    EXPECT_NE(raw, 0xdeadbeefu);
    platform::Luid luid{0xdeadbeef, 0};
    ASSERT_TRUE(sys.LookupPrivilegeValue(platform::kSeShutdownName, luid));
    EXPECT_NE(luid.lowPart, 0xdeadbeefu);
    sys.SetLastError(0xdeadbeef);
    EXPECT_TRUE(sys.AdjustTokenPrivilege(token.get(), luid, platform::kSePrivilegeEnabled));
    EXPECT_EQ(sys.GetLastError(), 0u);  // an administrator holds the privilege: all assigned
    platform::Luid unknown{0xdeadbeef, 0};
    EXPECT_FALSE(sys.LookupPrivilegeValue("SeNoSuchPrivilege", unknown));
    EXPECT_EQ(sys.GetLastError(), platform::kErrorNoSuchPrivilege);
    // Take-ownership holders nest: each leaves the privilege as it found it.
    platform::Luid take{};
    ASSERT_TRUE(sys.LookupPrivilegeValue(platform::kSeTakeOwnershipName, take));
    uint32_t initial = 0, state = 0xdeadbeef;
    ASSERT_TRUE(sys.AdjustTokenPrivilege(token.get(), take, 0, &initial));
    {
        guard::TakeOwnershipPrivilege outer(sys);
        { guard::TakeOwnershipPrivilege inner(sys); }
        EXPECT_TRUE(sys.AdjustTokenPrivilege(token.get(), take, platform::kSePrivilegeEnabled, &state));
        EXPECT_EQ(platform::kSePrivilegeEnabled, state);
    }
    EXPECT_TRUE(sys.AdjustTokenPrivilege(token.get(), take, initial, &state));
    EXPECT_EQ(0u, state);
}

TEST(AppRestartContract, TheTestProcessIsAnElevatedAdministrator) {
    platform::ISystem& sys = contract::GetBackend().os().sys;
    platform::TokenHandle raw = 0;
    ASSERT_TRUE(sys.OpenProcessToken(platform::kTokenQuery, raw));
    platform::UniqueToken token(&sys, raw);
    std::vector<platform::TokenGroup> groups;
    ASSERT_TRUE(sys.GetTokenGroups(token.get(), groups));
    bool admin = false;
    for (const auto& g : groups)
        if (g.sid == platform::kAdministratorsSid && (g.attributes & platform::kSeGroupEnabled)) admin = true;
    EXPECT_TRUE(admin);
    EXPECT_EQ(detect::IsAdministrator(contract::GetBackend().os()), 1u);
}

}  // namespace
