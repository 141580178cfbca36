// What only the simulated registry can show: access lists that refuse until rewritten,
// planned failures of every call, 32-bit Windows, and the helpers tests arrange state with.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

using namespace platform;
using platform::sim::SimKeySecurity;
using platform::sim::View;

namespace {

constexpr char kProduct[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker\\Product";

class SimRegistryTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(0, m.registry.OpenHandles()) << "a handle leaked"; }

    uint32_t OpenStatus(RegKey parent, const std::string& path, uint32_t access) {
        RegKey key = 0;
        uint32_t rc = m.registry.OpenKeyEx(parent, path, access, key);
        if (rc == 0) m.registry.CloseKey(key);
        return rc;
    }

    sim::SimMachine m;
    sim::SimRegistry& reg = m.registry;
};

TEST_F(SimRegistryTest, HelpersResolvePathsInTheChosenView) {
    ASSERT_TRUE(reg.SetString(kProduct, "Path", "C:\\P"));
    ASSERT_TRUE(reg.SetDword(kProduct, "Count", 3, View::K64));

    EXPECT_TRUE(reg.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Maker\\Product", View::K64));
    EXPECT_TRUE(reg.ValueExists("hkey_local_machine\\software\\maker\\PRODUCT", "path"));
    EXPECT_FALSE(reg.ValueExists(kProduct, "Path", View::K64));
    ASSERT_NE(nullptr, reg.GetValue(kProduct, "Count", View::K64));
    EXPECT_EQ((std::vector<uint8_t>{3, 0, 0, 0}), reg.GetValue(kProduct, "Count", View::K64)->data);
    EXPECT_EQ((std::vector<uint8_t>{'C', ':', '\\', 'P', 0}), reg.GetValue(kProduct, "Path")->data);
    EXPECT_EQ(std::vector<std::string>{"Maker"},
              reg.KeysUnder("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node", View::K64));
    EXPECT_FALSE(reg.CreatePath("HKEY_NOWHERE\\X"));

    RegKey key = 0;
    ASSERT_EQ(0u, reg.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyRead, key));
    UniqueRegKey owner(&reg, key);
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Maker\\Product", reg.PathOfHandle(key));
    EXPECT_EQ(1, reg.OpenHandles());
}

TEST_F(SimRegistryTest, DeleteIsRefusedUntilTheAccessListIsRewritten) {
    reg.CreatePath(std::string(kProduct) + "\\Sub\\Leaf");
    reg.CreatePath(std::string(kProduct) + "\\Other");
    reg.SecurityOf(std::string(kProduct) + "\\Sub\\Leaf")->deniedAccess = kDelete;

    EXPECT_EQ(kErrorAccessDenied, reg.DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product\\Sub\\Leaf"));
    EXPECT_EQ(kErrorAccessDenied,
              reg.DeleteKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product\\Sub\\Leaf", 0));
    EXPECT_EQ(kErrorAccessDenied,
              OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product\\Sub\\Leaf", kKeyAllAccess));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product\\Sub\\Leaf", kKeyRead));

    // The tree delete goes as far as it can and reports the key that stopped it.
    EXPECT_EQ(kErrorAccessDenied, reg.SHDeleteKey(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product"));
    EXPECT_TRUE(reg.Exists(std::string(kProduct) + "\\Sub\\Leaf"));

    // What the security area does once it has taken ownership and written a new list.
    *reg.SecurityOf(std::string(kProduct) + "\\Sub\\Leaf") =
        SimKeySecurity{"S-1-5-32-544", "D:(A;;KA;;;BA)", 0};
    EXPECT_EQ(0u, reg.SHDeleteKey(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product"));
    EXPECT_FALSE(reg.Exists(kProduct));
    EXPECT_TRUE(reg.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker"));
}

TEST_F(SimRegistryTest, SetValueAndCreateSubKeyDenials) {
    reg.SetString(kProduct, "Locked", "x");
    reg.SetString(kProduct, "Free", "y");
    reg.SecurityOf(kProduct)->deniedAccess = kKeySetValue | kKeyCreateSubKey;

    EXPECT_EQ(kErrorAccessDenied, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyWrite));
    EXPECT_EQ(kErrorAccessDenied, reg.SHDeleteValue(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", "Free"));
    RegKey key = 0;
    EXPECT_EQ(kErrorAccessDenied, reg.CreateKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product\\New",
                                                  kRegOptionNonVolatile, kKeyRead, key, nullptr));
    EXPECT_FALSE(reg.Exists(std::string(kProduct) + "\\New"));
    // MAXIMUM_ALLOWED opens with what is left, and that does not include setting values.
    ASSERT_EQ(0u, reg.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", 0x02000000, key));
    UniqueRegKey maxAllowed(&reg, key);
    EXPECT_EQ(kErrorAccessDenied, reg.SetValueEx(key, "Free", kRegSz, "z", 2));
    EXPECT_EQ(0u, reg.DeleteKey(key, ""));

    // A value can be locked on its own as well.
    reg.SetString(kProduct, "Locked", "x");
    reg.GetValue(kProduct, "Locked")->deniedAccess = kKeySetValue;
    ASSERT_EQ(0u, reg.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyAllAccess, key));
    UniqueRegKey all(&reg, key);
    EXPECT_EQ(kErrorAccessDenied, reg.SetValueEx(key, "Locked", kRegSz, "z", 2));
    EXPECT_EQ(kErrorAccessDenied, reg.DeleteValue(key, "Locked"));
    EXPECT_EQ(0u, reg.SetValueEx(key, "Other", kRegSz, "z", 2));
    EXPECT_EQ(std::vector<uint8_t>({'x', 0}), reg.GetValue(kProduct, "Locked")->data);
}

TEST_F(SimRegistryTest, EveryCallCanBeMadeToFailWithoutChangingAnything) {
    reg.SetString(kProduct, "V", "x");
    RegKey key = 0;
    ASSERT_EQ(0u, reg.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyAllAccess, key));
    UniqueRegKey owner(&reg, key);
    char buffer[32];
    uint32_t size = sizeof buffer, type = 0;
    RegKey out = 0;

    struct Case {
        const char* call;
        std::function<uint32_t()> run;
    } cases[] = {
        {"RegCreateKeyExA", [&] { return reg.CreateKeyEx(key, "New", 0, kKeyAllAccess, out, nullptr); }},
        {"RegOpenKeyExA", [&] { return reg.OpenKeyEx(key, "", kKeyRead, out); }},
        {"RegOpenKeyExW", [&] { return reg.OpenKeyExW(key, u"", kKeyRead, out); }},
        {"RegSetValueExA", [&] { return reg.SetValueEx(key, "V", kRegSz, "y", 2); }},
        {"RegQueryValueExA", [&] { return reg.QueryValueEx(key, "V", &type, buffer, &size); }},
        {"RegQueryValueExW", [&] { return reg.QueryValueExW(key, u"V", &type, buffer, &size); }},
        {"RegEnumKeyExA", [&] { return reg.EnumKeyEx(key, 0, buffer, &size); }},
        {"RegEnumValueA", [&] { return reg.EnumValue(key, 0, buffer, &size, nullptr, nullptr, nullptr); }},
        {"RegQueryInfoKeyA",
         [&] { return reg.QueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr); }},
        {"RegDeleteKeyA", [&] { return reg.DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product"); }},
        {"RegDeleteKeyExA",
         [&] { return reg.DeleteKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", 0); }},
        {"RegDeleteValueA", [&] { return reg.DeleteValue(key, "V"); }},
        {"SHDeleteKeyA", [&] { return reg.SHDeleteKey(kHkeyLocalMachine, "SOFTWARE\\Maker"); }},
        {"SHDeleteValueA",
         [&] { return reg.SHDeleteValue(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", "V"); }},
        {"SHGetValueA",
         [&] {
             return reg.SHGetValue(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", "V", &type, buffer, &size);
         }},
        {"RegFlushKey", [&] { return reg.FlushKey(key); }},
    };
    m.faults.ResetCounts();
    for (const auto& c : cases) {
        m.faults.Fail(c.call, 1450);
        size = sizeof buffer;
        EXPECT_EQ(1450u, c.run()) << c.call;
        EXPECT_EQ(1, m.faults.Calls(c.call)) << c.call;
    }
    EXPECT_EQ(1, reg.OpenHandles());
    EXPECT_TRUE(reg.Exists(kProduct));
    EXPECT_EQ(std::vector<std::string>{}, reg.KeysUnder(kProduct));
    ASSERT_NE(nullptr, reg.GetValue(kProduct, "V"));
    EXPECT_EQ(std::vector<uint8_t>({'x', 0}), reg.GetValue(kProduct, "V")->data);
}

TEST_F(SimRegistryTest, DeleteKeyExMissingFromAdvapi) {
    reg.CreatePath(kProduct, View::K64);
    reg.hasDeleteKeyEx = false;
    EXPECT_EQ(kErrorCallNotImplemented,
              reg.DeleteKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyWow64_64Key));
    EXPECT_TRUE(reg.Exists(kProduct, View::K64));
}

TEST_F(SimRegistryTest, ThirtyTwoBitWindowsHasOneView) {
    m.system.is64BitWindows = false;
    reg.SetString(kProduct, "V", "x", View::K64);
    EXPECT_TRUE(reg.ValueExists(kProduct, "V"));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyRead));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(0u, reg.DeleteKeyEx(kHkeyLocalMachine, "SOFTWARE\\Maker\\Product", kKeyWow64_32Key));
    EXPECT_FALSE(reg.Exists(kProduct, View::K64));
}

TEST_F(SimRegistryTest, ShGetValueExpandsFromTheEnvironment) {
    m.system.environment[u"WINDIR"] = u"C:\\Windows";
    reg.SetString("HKEY_CURRENT_USER\\Software\\Maker", "Dir", "%windir%\\Temp\\%NOSUCH%\\100%", View::K32,
                  kRegExpandSz);
    char buffer[64];
    uint32_t type = 0, size = sizeof buffer;
    ASSERT_EQ(0u, reg.SHGetValue(kHkeyCurrentUser, "Software\\Maker", "Dir", &type, buffer, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_STREQ("C:\\Windows\\Temp\\%NOSUCH%\\100%", buffer);
    EXPECT_EQ(sizeof("C:\\Windows\\Temp\\%NOSUCH%\\100%"), size);
}

}  // namespace
