// The registry on both backends: keys, values, the buffer protocols, the two views of
// 64-bit Windows, deletion of keys and trees, and the UTF-16 reads of the logger.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "contract/backend.h"
#include "platform/ansi.h"
#include "platform/platform.h"
#include "platform/registry_links.h"

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xdeadbeef;
constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorNoAccess = 998;

std::vector<uint8_t> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + size);
}

class RegistryContract : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = backend().UniqueName("Case");
        cu_ = "Software\\SweepToolTest\\" + name_;
        lm_ = "SOFTWARE\\SweepToolTest\\" + name_;
        Clean();
    }
    void TearDown() override { Clean(); }

    contract::Backend& backend() { return contract::GetBackend(); }
    IRegistry& reg() { return backend().os().reg; }

    // Removes this case's keys from HKCU and from both views of HKLM, and the shared
    // parents when no other case uses them.
    void Clean() {
        // Links first, as themselves: the shell helper would follow them.
        (void)DeleteTreeWithoutFollowing(reg(), kHkeyLocalMachine, lm_, kKeyWow64_64Key);
        (void)reg().SHDeleteKey(kHkeyCurrentUser, cu_);
        (void)reg().SHDeleteKey(kHkeyLocalMachine, lm_);
        (void)reg().SHDeleteKey(kHkeyClassesRoot, "SweepToolTest_" + name_);
        (void)reg().SHDeleteKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\SweepToolTest" + name_);
        RegKey native = 0;
        if (reg().OpenKeyEx(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key, native) == 0) {
            UniqueRegKey owner(&reg(), native);
            (void)reg().SHDeleteKey(native, "SweepToolTest\\" + name_);
            (void)reg().DeleteKey(native, "SweepToolTest");
        }
        (void)reg().DeleteKey(kHkeyCurrentUser, "Software\\SweepToolTest");
        (void)reg().DeleteKey(kHkeyLocalMachine, "SOFTWARE\\SweepToolTest");
    }

    UniqueRegKey Create(RegKey parent, const std::string& path, uint32_t access = kKeyAllAccess,
                        uint32_t* disposition = nullptr) {
        RegKey key = 0;
        uint32_t rc = reg().CreateKeyEx(parent, path, kRegOptionNonVolatile, access, key, disposition);
        if (rc != 0) ADD_FAILURE() << "CreateKeyEx " << path << " gave " << rc;
        return UniqueRegKey(&reg(), key);
    }
    UniqueRegKey Open(RegKey parent, const std::string& path, uint32_t access = kKeyRead) {
        RegKey key = 0;
        uint32_t rc = reg().OpenKeyEx(parent, path, access, key);
        if (rc != 0) ADD_FAILURE() << "OpenKeyEx " << path << " gave " << rc;
        return UniqueRegKey(&reg(), key);
    }
    uint32_t OpenStatus(RegKey parent, const std::string& path, uint32_t access = kKeyRead) {
        RegKey key = 0;
        uint32_t rc = reg().OpenKeyEx(parent, path, access, key);
        if (rc == 0) reg().CloseKey(key);
        return rc;
    }
    void SetString(RegKey key, const char* name, const std::string& text, uint32_t type = kRegSz) {
        ASSERT_EQ(0u,
                  reg().SetValueEx(key, name, type, text.c_str(), static_cast<uint32_t>(text.size() + 1)));
    }
    // The stored bytes and type of a value, read with a buffer of the reported size.
    uint32_t Read(RegKey key, const char* name, uint32_t& type, std::vector<uint8_t>& data) {
        uint32_t size = kSentinel;
        type = kSentinel;
        uint32_t rc = reg().QueryValueEx(key, name, &type, nullptr, &size);
        if (rc != 0) return rc;
        data.assign(size, 0xcc);
        rc = reg().QueryValueEx(key, name, &type, data.data(), &size);
        data.resize(size);
        return rc;
    }
    std::vector<std::string> SubKeys(RegKey key) {
        std::vector<std::string> names;
        for (uint32_t i = 0;; ++i) {
            char name[300];
            uint32_t length = sizeof name;
            uint32_t rc = reg().EnumKeyEx(key, i, name, &length);
            if (rc == kErrorNoMoreItems) break;
            if (rc != 0) {
                ADD_FAILURE() << "EnumKeyEx gave " << rc;
                break;
            }
            names.emplace_back(name, length);
        }
        return names;
    }
    // Whether this backend is 64-bit Windows, where HKLM\SOFTWARE has two views.
    bool HasTwoViews() {
        return OpenStatus(kHkeyLocalMachine, "SOFTWARE\\WOW6432Node", kKeyRead | kKeyWow64_64Key) == 0;
    }

    std::string name_, cu_, lm_;
};

TEST_F(RegistryContract, CreateReportsNewOrExistingAndNamesIgnoreCase) {
    uint32_t disposition = kSentinel;
    { auto key = Create(kHkeyCurrentUser, cu_ + "\\Alpha\\Beta", kKeyAllAccess, &disposition); }
    EXPECT_EQ(kRegCreatedNewKey, disposition);
    disposition = kSentinel;
    { auto key = Create(kHkeyCurrentUser, cu_ + "\\ALPHA\\beta", kKeyAllAccess, &disposition); }
    EXPECT_EQ(kRegOpenedExistingKey, disposition);

    // Doubled and trailing backslashes name the same key.
    EXPECT_EQ(0u, OpenStatus(kHkeyCurrentUser, cu_ + "\\alpha\\\\BETA\\"));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyCurrentUser, cu_ + "\\Alpha\\Gamma"));

    // The spelling of the first creation is the one enumerated.
    auto parent = Open(kHkeyCurrentUser, cu_);
    EXPECT_EQ(std::vector<std::string>{"Alpha"}, SubKeys(parent.get()));

    RegKey out = kSentinel;
    EXPECT_EQ(kErrorFileNotFound, reg().OpenKeyEx(kHkeyCurrentUser, cu_ + "\\Missing", kKeyRead, out));
    EXPECT_EQ(kSentinel, out);
}

TEST_F(RegistryContract, OnlyVolatileKeysGoBelowAVolatileKey) {
    { auto base = Create(kHkeyCurrentUser, cu_); }
    RegKey raw = 0;
    // The keys made on the way take the call's options as well.
    ASSERT_EQ(0u, reg().CreateKeyEx(kHkeyCurrentUser, cu_ + "\\Session\\Inner", kRegOptionVolatile,
                                    kKeyAllAccess, raw, nullptr));
    reg().CloseKey(raw);
    EXPECT_EQ(1021u, reg().CreateKeyEx(kHkeyCurrentUser, cu_ + "\\Session\\Stable\\Deeper",
                                       kRegOptionNonVolatile, kKeyAllAccess, raw, nullptr));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyCurrentUser, cu_ + "\\Session\\Stable"));
    uint32_t disposition = kSentinel;
    ASSERT_EQ(0u, reg().CreateKeyEx(kHkeyCurrentUser, cu_ + "\\Session", kRegOptionNonVolatile, kKeyAllAccess,
                                    raw, &disposition));
    reg().CloseKey(raw);
    EXPECT_EQ(kRegOpenedExistingKey, disposition);
}

TEST_F(RegistryContract, OpeningNothingBelowARootGivesTheRootBack) {
    RegKey out = kSentinel;
    ASSERT_EQ(0u, reg().OpenKeyEx(kHkeyCurrentUser, "", kKeyRead, out));
    EXPECT_EQ(kHkeyCurrentUser, out);

    auto key = Create(kHkeyCurrentUser, cu_);
    out = kSentinel;
    ASSERT_EQ(0u, reg().OpenKeyEx(key.get(), "", kKeyRead, out));
    UniqueRegKey again(&reg(), out);
    EXPECT_NE(key.get(), out);
}

TEST_F(RegistryContract, ValuesComeBackAsStored) {
    auto key = Create(kHkeyCurrentUser, cu_);
    const uint32_t dword = 0x01020304;
    const char multi[] = "one\0two\0";
    const char unterminated[] = "abcX";
    const uint8_t binary[] = {0, 1, 2, 0xff};
    ASSERT_EQ(0u, reg().SetValueEx(key.get(), "Dword", kRegDword, &dword, 4));
    ASSERT_EQ(0u, reg().SetValueEx(key.get(), "Multi", kRegMultiSz, multi, sizeof multi));
    // Three bytes of a longer buffer: stored without a terminator.
    ASSERT_EQ(0u, reg().SetValueEx(key.get(), "Unterminated", kRegSz, unterminated, 3));
    ASSERT_EQ(0u, reg().SetValueEx(key.get(), "Binary", kRegBinary, binary, sizeof binary));
    ASSERT_EQ(0u, reg().SetValueEx(key.get(), "Empty", kRegBinary, nullptr, 0));
    SetString(key.get(), "Text", "C:\\Program Files\\Maker");
    SetString(key.get(), "Expand", "%SystemRoot%\\x", kRegExpandSz);

    struct Case {
        const char* name;
        uint32_t type;
        std::vector<uint8_t> data;
    } cases[] = {
        {"dword", kRegDword, Bytes(&dword, 4)},
        {"Multi", kRegMultiSz, Bytes(multi, sizeof multi)},
        {"Unterminated", kRegSz, Bytes("abc", 3)},
        {"Binary", kRegBinary, Bytes(binary, sizeof binary)},
        {"Empty", kRegBinary, {}},
        {"TEXT", kRegSz, Bytes("C:\\Program Files\\Maker", 23)},
        {"Expand", kRegExpandSz, Bytes("%SystemRoot%\\x", 15)},
    };
    for (const auto& c : cases) {
        uint32_t type = 0;
        std::vector<uint8_t> data;
        EXPECT_EQ(0u, Read(key.get(), c.name, type, data)) << c.name;
        EXPECT_EQ(c.type, type) << c.name;
        EXPECT_EQ(c.data, data) << c.name;
    }

    // Setting again replaces type and data.
    SetString(key.get(), "Dword", "now text");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_EQ(0u, Read(key.get(), "Dword", type, data));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(Bytes("now text", 9), data);
}

TEST_F(RegistryContract, QueryFollowsTheBufferProtocol) {
    auto key = Create(kHkeyCurrentUser, cu_);
    SetString(key.get(), "Path", "hello");

    uint32_t type = kSentinel, size = kSentinel;
    EXPECT_EQ(0u, reg().QueryValueEx(key.get(), "Path", &type, nullptr, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(6u, size);

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    size = 3;
    EXPECT_EQ(kErrorMoreData, reg().QueryValueEx(key.get(), "Path", &type, buffer, &size));
    EXPECT_EQ(6u, size);

    size = 6;
    EXPECT_EQ(0u, reg().QueryValueEx(key.get(), "Path", nullptr, buffer, &size));
    EXPECT_STREQ("hello", buffer);
    EXPECT_EQ('x', buffer[6]);

    EXPECT_EQ(kErrorInvalidParameter, reg().QueryValueEx(key.get(), "Path", nullptr, buffer, nullptr));
    size = sizeof buffer;
    EXPECT_EQ(kErrorFileNotFound, reg().QueryValueEx(key.get(), "Missing", &type, buffer, &size));
}

TEST_F(RegistryContract, DefaultValueIsTheEmptyName) {
    auto key = Create(kHkeyCurrentUser, cu_);
    uint32_t size = 16;
    char buffer[16];
    EXPECT_EQ(kErrorFileNotFound, reg().QueryValueEx(key.get(), nullptr, nullptr, buffer, &size));

    SetString(key.get(), nullptr, "def");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_EQ(0u, Read(key.get(), "", type, data));
    EXPECT_EQ(Bytes("def", 4), data);

    char name[8] = "x";
    uint32_t length = sizeof name;
    EXPECT_EQ(0u, reg().EnumValue(key.get(), 0, name, &length, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, length);
    EXPECT_STREQ("", name);

    size = sizeof buffer;
    EXPECT_EQ(0u, reg().SHGetValue(kHkeyCurrentUser, cu_, "", &type, buffer, &size));
    EXPECT_STREQ("def", buffer);

    EXPECT_EQ(0u, reg().DeleteValue(key.get(), nullptr));
    EXPECT_EQ(kErrorFileNotFound, Read(key.get(), nullptr, type, data));
}

TEST_F(RegistryContract, EnumerationReportsSmallBuffersAndItsEnd) {
    auto key = Create(kHkeyCurrentUser, cu_);
    for (const char* sub : {"b", "Zed", "_under", "Alpha"}) Create(key.get(), sub);
    SetString(key.get(), "Name", "hello");
    const uint8_t blob[10] = {1};
    ASSERT_EQ(0u, reg().SetValueEx(key.get(), "Blob", kRegBinary, blob, sizeof blob));

    // Names sort without regard to case, folded to lower case.
    EXPECT_EQ((std::vector<std::string>{"_under", "Alpha", "b", "Zed"}), SubKeys(key.get()));

    char name[16];
    std::memset(name, 'x', sizeof name);
    uint32_t length = 6;  // "_under" needs 7 with its terminator
    EXPECT_EQ(kErrorMoreData, reg().EnumKeyEx(key.get(), 0, name, &length));
    EXPECT_EQ(6u, length);
    length = 7;
    EXPECT_EQ(0u, reg().EnumKeyEx(key.get(), 0, name, &length));
    EXPECT_EQ(6u, length);
    EXPECT_STREQ("_under", name);
    length = sizeof name;
    EXPECT_EQ(kErrorNoMoreItems, reg().EnumKeyEx(key.get(), 4, name, &length));
    EXPECT_EQ(static_cast<uint32_t>(sizeof name), length);

    // Values: every one once, with type and data; a data buffer too small reports its size.
    std::vector<std::string> seen;
    for (uint32_t i = 0;; ++i) {
        char valueName[16];
        uint32_t nameLength = sizeof valueName, type = kSentinel, size = 2;
        uint8_t data[32];
        uint32_t rc = reg().EnumValue(key.get(), i, valueName, &nameLength, &type, data, &size);
        if (rc == kErrorNoMoreItems) break;
        ASSERT_EQ(kErrorMoreData, rc);
        nameLength = sizeof valueName;
        size = sizeof data;
        ASSERT_EQ(0u, reg().EnumValue(key.get(), i, valueName, &nameLength, &type, data, &size));
        seen.emplace_back(valueName, nameLength);
        if (seen.back() == "Name") {
            EXPECT_EQ(kRegSz, type);
            EXPECT_EQ(6u, size);
        } else {
            EXPECT_EQ(kRegBinary, type);
            EXPECT_EQ(10u, size);
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"Blob", "Name"}), seen);

    uint32_t subKeys = kSentinel, maxSub = kSentinel, values = kSentinel, maxName = kSentinel,
             maxData = kSentinel;
    ASSERT_EQ(0u, reg().QueryInfoKey(key.get(), &subKeys, &maxSub, &values, &maxName, &maxData));
    EXPECT_EQ(4u, subKeys);
    EXPECT_EQ(6u, maxSub);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(4u, maxName);
    // Strings are kept in UTF-16, and their size counts as kept: "hello" takes 12 bytes.
    EXPECT_EQ(12u, maxData);
    EXPECT_EQ(0u, reg().QueryInfoKey(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryContract, HandleAccessLimitsWhatTheHandleDoes) {
    { auto key = Create(kHkeyCurrentUser, cu_ + "\\Sub"); }
    {
        auto key = Create(kHkeyCurrentUser, cu_);
        SetString(key.get(), "Value", "v");
    }
    auto readOnly = Open(kHkeyCurrentUser, cu_, kKeyQueryValue);
    EXPECT_EQ(kErrorAccessDenied, reg().SetValueEx(readOnly.get(), "New", kRegSz, "a", 2));
    EXPECT_EQ(kErrorAccessDenied, reg().DeleteValue(readOnly.get(), "Value"));
    char name[16];
    uint32_t length = sizeof name;
    EXPECT_EQ(kErrorAccessDenied, reg().EnumKeyEx(readOnly.get(), 0, name, &length));

    auto writeOnly = Open(kHkeyCurrentUser, cu_, kKeySetValue);
    uint32_t size = sizeof name;
    EXPECT_EQ(kErrorAccessDenied, reg().QueryValueEx(writeOnly.get(), "Value", nullptr, name, &size));
    EXPECT_EQ(0u, reg().SetValueEx(writeOnly.get(), "New", kRegSz, "a", 2));
}

TEST_F(RegistryContract, TheTwoViewsOfSoftware) {
    if (!HasTwoViews()) GTEST_SKIP() << "32-bit Windows has one view";
    { auto native = Create(kHkeyLocalMachine, lm_ + "\\Native", kKeyAllAccess | kKeyWow64_64Key); }
    { auto redirected = Create(kHkeyLocalMachine, lm_ + "\\Redirected", kKeyAllAccess); }

    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyLocalMachine, lm_ + "\\Native"));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, lm_ + "\\Native", kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(kErrorFileNotFound,
              OpenStatus(kHkeyLocalMachine, lm_ + "\\Redirected", kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, lm_ + "\\Redirected", kKeyWow64_32Key | kKeyRead));

    // WOW6432Node holds the 32-bit view; naming it inside that view names the view itself.
    std::string wow = "SOFTWARE\\WOW6432Node\\SweepToolTest\\" + name_;
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, wow + "\\Redirected", kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, wow + "\\Redirected"));
    EXPECT_EQ(kErrorFileNotFound,
              OpenStatus(kHkeyLocalMachine, wow + "\\Native", kKeyRead | kKeyWow64_64Key));

    // Below a handle, paths are not redirected again: the handle's view holds.
    auto nativeSoftware = Open(kHkeyLocalMachine, "SOFTWARE", kKeyRead | kKeyWow64_64Key);
    EXPECT_EQ(0u, OpenStatus(nativeSoftware.get(), "SweepToolTest\\" + name_ + "\\Native"));
    EXPECT_EQ(kErrorFileNotFound,
              OpenStatus(nativeSoftware.get(), "SweepToolTest\\" + name_ + "\\Redirected"));
    auto software32 = Open(kHkeyLocalMachine, "SOFTWARE");
    EXPECT_EQ(0u, OpenStatus(software32.get(), "SweepToolTest\\" + name_ + "\\Redirected",
                             kKeyRead | kKeyWow64_64Key));

    // HKCU\Software is the same in both views.
    { auto shared = Create(kHkeyCurrentUser, cu_ + "\\Shared", kKeyAllAccess | kKeyWow64_64Key); }
    EXPECT_EQ(0u, OpenStatus(kHkeyCurrentUser, cu_ + "\\Shared"));
}

TEST_F(RegistryContract, ClassesAreSharedAndAreTheClassesRoot) {
    if (!HasTwoViews()) GTEST_SKIP() << "32-bit Windows has one view";
    const std::string sub = "SweepToolTest_" + name_;
    {
        auto k = Create(kHkeyLocalMachine, "SOFTWARE\\Classes\\" + sub + "\\Native",
                        kKeyAllAccess | kKeyWow64_64Key);
    }
    { auto k = Create(kHkeyClassesRoot, sub + "\\FromRoot"); }

    EXPECT_EQ(0u, OpenStatus(kHkeyClassesRoot, sub + "\\Native"));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Classes\\" + sub + "\\Native"));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Classes\\" + sub + "\\FromRoot",
                             kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyLocalMachine, "SOFTWARE\\WOW6432Node\\Classes\\" + sub,
                                             kKeyRead | kKeyWow64_64Key));

    EXPECT_EQ(0u, reg().SHDeleteKey(kHkeyClassesRoot, sub));
    EXPECT_EQ(kErrorFileNotFound,
              OpenStatus(kHkeyLocalMachine, "SOFTWARE\\Classes\\" + sub, kKeyRead | kKeyWow64_64Key));
}

TEST_F(RegistryContract, DeleteKeyInEachView) {
    if (!HasTwoViews()) GTEST_SKIP() << "32-bit Windows has one view";
    { auto k = Create(kHkeyLocalMachine, lm_ + "\\Both", kKeyAllAccess | kKeyWow64_64Key); }
    { auto k = Create(kHkeyLocalMachine, lm_ + "\\Both"); }
    { auto k = Create(kHkeyLocalMachine, lm_ + "\\NativeOnly", kKeyAllAccess | kKeyWow64_64Key); }

    // RegDeleteKey works in the default view only.
    EXPECT_EQ(kErrorFileNotFound, reg().DeleteKey(kHkeyLocalMachine, lm_ + "\\NativeOnly"));
    EXPECT_EQ(0u, reg().DeleteKeyEx(kHkeyLocalMachine, lm_ + "\\NativeOnly", kKeyWow64_64Key));
    EXPECT_EQ(kErrorFileNotFound,
              OpenStatus(kHkeyLocalMachine, lm_ + "\\NativeOnly", kKeyRead | kKeyWow64_64Key));

    EXPECT_EQ(0u, reg().DeleteKeyEx(kHkeyLocalMachine, lm_ + "\\Both", kKeyWow64_32Key));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyLocalMachine, lm_ + "\\Both"));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, lm_ + "\\Both", kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(0u, reg().DeleteKeyEx(kHkeyLocalMachine, lm_ + "\\Both", kKeyWow64_64Key));
    EXPECT_EQ(kErrorFileNotFound, reg().DeleteKeyEx(kHkeyLocalMachine, lm_ + "\\Both", kKeyWow64_64Key));
}

TEST_F(RegistryContract, DeleteKeyRefusesSubkeysAndDeletedHandlesSayKeyDeleted) {
    { auto k = Create(kHkeyCurrentUser, cu_ + "\\Parent\\Child"); }
    EXPECT_EQ(kErrorAccessDenied, reg().DeleteKey(kHkeyCurrentUser, cu_ + "\\Parent"));
    EXPECT_EQ(0u, OpenStatus(kHkeyCurrentUser, cu_ + "\\Parent\\Child"));
    EXPECT_EQ(kErrorFileNotFound, reg().DeleteKey(kHkeyCurrentUser, cu_ + "\\Parent\\Missing"));
    EXPECT_EQ(kErrorAccessDenied, reg().DeleteKey(kHkeyLocalMachine, ""));

    auto held = Create(kHkeyCurrentUser, cu_ + "\\Parent\\Child");
    SetString(held.get(), "Value", "v");
    EXPECT_EQ(0u, reg().DeleteKey(kHkeyCurrentUser, cu_ + "\\Parent\\Child"));

    char buffer[16];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(kErrorKeyDeleted, reg().QueryValueEx(held.get(), "Value", nullptr, buffer, &size));
    EXPECT_EQ(kErrorKeyDeleted, reg().SetValueEx(held.get(), "Value", kRegSz, "w", 2));
    EXPECT_EQ(kErrorKeyDeleted, reg().EnumKeyEx(held.get(), 0, buffer, &size));
    EXPECT_EQ(kErrorKeyDeleted, reg().QueryInfoKey(held.get(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(kErrorKeyDeleted, OpenStatus(held.get(), "Below"));
    EXPECT_EQ(kErrorKeyDeleted, reg().FlushKey(held.get()));
    EXPECT_EQ(kErrorKeyDeleted, reg().DeleteKey(held.get(), ""));

    // Created again, it is a new key without the old value.
    uint32_t disposition = kSentinel;
    auto again = Create(kHkeyCurrentUser, cu_ + "\\Parent\\Child", kKeyAllAccess, &disposition);
    EXPECT_EQ(kRegCreatedNewKey, disposition);
    size = sizeof buffer;
    EXPECT_EQ(kErrorFileNotFound, reg().QueryValueEx(again.get(), "Value", nullptr, buffer, &size));
    EXPECT_EQ(0u, reg().FlushKey(again.get()));
}

TEST_F(RegistryContract, SHDeleteKeyRemovesAWholeTreeInTheParentsView) {
    for (const char* path : {"\\Tree\\A\\A1", "\\Tree\\A\\A2", "\\Tree\\B"}) {
        auto k = Create(kHkeyCurrentUser, cu_ + path);
        SetString(k.get(), "V", "x");
    }
    EXPECT_EQ(0u, reg().SHDeleteKey(kHkeyCurrentUser, cu_ + "\\Tree"));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyCurrentUser, cu_ + "\\Tree"));
    EXPECT_EQ(0u, OpenStatus(kHkeyCurrentUser, cu_));
    EXPECT_EQ(kErrorFileNotFound, reg().SHDeleteKey(kHkeyCurrentUser, cu_ + "\\Tree"));

    if (!HasTwoViews()) return;
    { auto k = Create(kHkeyLocalMachine, lm_ + "\\T\\Deep", kKeyAllAccess | kKeyWow64_64Key); }
    { auto k = Create(kHkeyLocalMachine, lm_ + "\\T\\Deep"); }
    auto nativeSoftware = Open(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key);
    EXPECT_EQ(0u, reg().SHDeleteKey(nativeSoftware.get(), "SweepToolTest\\" + name_ + "\\T"));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyLocalMachine, lm_ + "\\T", kKeyRead | kKeyWow64_64Key));
    EXPECT_EQ(0u, OpenStatus(kHkeyLocalMachine, lm_ + "\\T\\Deep"));
}

// A link key sends names to its target; opened with REG_OPTION_OPEN_LINK it is itself, and
// the tree deletion that opens every key that way takes the link, never what it points to.
TEST_F(RegistryContract, LinksAreFollowedUnlessOpenedAsThemselves) {
    auto software = Open(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key);
    const std::string base = "SweepToolTest\\" + name_, tree = base + "\\Tree", link = tree + "\\Link";
    const uint32_t native = kKeyAllAccess | kKeyWow64_64Key;
    { auto k = Create(software.get(), base + "\\Target\\Sub", native); }
    SetString(Open(software.get(), base + "\\Target", native).get(), "Kept", "x");
    RegKey raw = 0;
    auto plantAt = [&](const std::string& at) {
        ASSERT_EQ(0u, reg().CreateKeyEx(software.get(), at, kRegOptionCreateLink, native, raw, nullptr));
        UniqueRegKey made(&reg(), raw);
        std::u16string to = u"\\Registry\\Machine\\SOFTWARE\\SweepToolTest\\";
        for (char c : name_ + "\\Target") to += static_cast<char16_t>(c);
        ASSERT_EQ(0u, reg().SetValueExW(made.get(), u"SymbolicLinkValue", kRegLink, to.data(),
                                        static_cast<uint32_t>(to.size() * sizeof(char16_t))));
    };
    auto plant = [&] { plantAt(link); };
    plant();

    // Followed: the target's value and subkey, through the link and past it, open-link or not.
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_EQ(0u, Read(Open(software.get(), link, native).get(), "Kept", type, data));
    ASSERT_EQ(0u, reg().OpenKeyExOptions(software.get(), link + "\\Sub", kRegOptionOpenLink, native, raw));
    reg().CloseKey(raw);
    // Opened as itself: its one value, no subkeys; its parent lists it by name.
    ASSERT_EQ(0u, reg().OpenKeyExOptions(software.get(), link, kRegOptionOpenLink, native, raw));
    {
        UniqueRegKey self(&reg(), raw);
        uint32_t subKeys = kSentinel, values = kSentinel;
        EXPECT_EQ(0u, reg().QueryInfoKey(self.get(), &subKeys, nullptr, &values, nullptr, nullptr));
        EXPECT_EQ(0u, subKeys);
        EXPECT_EQ(1u, values);
        EXPECT_TRUE(IsLinkKey(reg(), self.get()));
        // A name below it runs on to the target, from the link's own handle too.
        EXPECT_EQ(0u, OpenStatus(self.get(), "Sub", native));
    }
    EXPECT_EQ(std::vector<std::string>{"Link"}, SubKeys(Open(software.get(), tree, native).get()));
    EXPECT_EQ(kErrorKeyIsLink, OpenKeyWithoutFollowing(reg(), software.get(), link + "\\Sub", native, raw));
    // A deletion by name follows the link: the target, which has a subkey, refuses.
    EXPECT_EQ(kErrorAccessDenied, reg().DeleteKeyEx(software.get(), link, kKeyWow64_64Key));

    std::vector<std::string> links;
    EXPECT_EQ(0u, DeleteTreeWithoutFollowing(reg(), software.get(), tree, kKeyWow64_64Key, &links));
    EXPECT_EQ(std::vector<std::string>{link}, links);
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(software.get(), tree, native));
    EXPECT_EQ(0u, Read(Open(software.get(), base + "\\Target", native).get(), "Kept", type, data));
    EXPECT_EQ(0u, OpenStatus(software.get(), base + "\\Target\\Sub", native));

    // The shell's tree deletion follows a link below it: the target goes whole, the link
    // stays, and deleting it by name, which follows it again, finds nothing.
    plant();
    EXPECT_EQ(kErrorFileNotFound, reg().SHDeleteKey(software.get(), tree));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(software.get(), base + "\\Target", native));
    EXPECT_EQ(0u, DeleteTreeWithoutFollowing(reg(), software.get(), tree, kKeyWow64_64Key));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(software.get(), tree, native));

    // Keys opened inside a held parent get the walk's answers; a parent deleted and made a
    // link after it was held is looked up afresh and not passed.
    plant();
    KeyParents parents(reg());
    const std::string held = "SOFTWARE\\" + tree;
    bool isLink = false;
    EXPECT_EQ(kErrorKeyIsLink, parents.Open(kHkeyLocalMachine, held + "\\Link\\Sub", native, raw));
    ASSERT_EQ(0u, parents.Open(kHkeyLocalMachine, held + "\\Link", native, raw, &isLink));
    reg().CloseKey(raw);
    EXPECT_TRUE(isLink);
    EXPECT_EQ(kErrorFileNotFound, parents.Open(kHkeyLocalMachine, held + "\\None", native, raw));
    EXPECT_EQ(0u, DeleteTreeWithoutFollowing(reg(), software.get(), tree, kKeyWow64_64Key));
    plantAt(tree);
    EXPECT_NE(0u, parents.Open(kHkeyLocalMachine, held + "\\Sub", native, raw));
    EXPECT_EQ(0u, DeleteTreeWithoutFollowing(reg(), software.get(), tree, kKeyWow64_64Key));

    // The links the system makes itself are passed: the default view's classes.
    { auto k = Create(kHkeyLocalMachine, "SOFTWARE\\Classes\\SweepToolTest" + name_, kKeyAllAccess); }
    EXPECT_EQ(0u, OpenKeyWithoutFollowing(reg(), kHkeyLocalMachine,
                                          "SOFTWARE\\Classes\\SweepToolTest" + name_, kKeyRead, raw));
    reg().CloseKey(raw);
    EXPECT_EQ(0u, DeleteTreeWithoutFollowing(reg(), kHkeyLocalMachine,
                                             "SOFTWARE\\Classes\\SweepToolTest" + name_, 0));
    // And the control set in use, which CurrentControlSet is a link to.
    const std::string set = "SYSTEM\\CurrentControlSet\\SweepToolTest" + name_;
    { auto k = Create(kHkeyLocalMachine, set + "\\Sub"); }
    EXPECT_EQ(0u, OpenKeyWithoutFollowing(reg(), kHkeyLocalMachine, set + "\\Sub", kKeyRead, raw));
    reg().CloseKey(raw);
    EXPECT_EQ(0u, DeleteTreeWithoutFollowing(reg(), kHkeyLocalMachine, set, 0));
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(kHkeyLocalMachine, set));
}

TEST_F(RegistryContract, ShellHelpersOpenTheSubkeyThemselves) {
    {
        auto k = Create(kHkeyCurrentUser, cu_);
        SetString(k.get(), "Plain", "value");
        SetString(k.get(), "Unexpanded", "no variables", kRegExpandSz);
        SetString(k.get(), "Gone", "g");
    }
    char buffer[32];
    uint32_t type = kSentinel, size = sizeof buffer;
    EXPECT_EQ(0u, reg().SHGetValue(kHkeyCurrentUser, cu_, "Plain", &type, buffer, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(6u, size);
    EXPECT_STREQ("value", buffer);

    // Expandable strings come back expanded and typed REG_SZ.
    type = kSentinel;
    size = kSentinel;
    EXPECT_EQ(0u, reg().SHGetValue(kHkeyCurrentUser, cu_, "Unexpanded", &type, nullptr, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(13u, size);
    size = 4;
    EXPECT_EQ(kErrorMoreData, reg().SHGetValue(kHkeyCurrentUser, cu_, "Unexpanded", &type, buffer, &size));
    EXPECT_EQ(13u, size);

    size = sizeof buffer;
    EXPECT_EQ(kErrorFileNotFound, reg().SHGetValue(kHkeyCurrentUser, cu_, "Missing", &type, buffer, &size));
    EXPECT_EQ(kErrorFileNotFound,
              reg().SHGetValue(kHkeyCurrentUser, cu_ + "\\No", "Plain", &type, buffer, &size));

    EXPECT_EQ(0u, reg().SHDeleteValue(kHkeyCurrentUser, cu_, "gone"));
    EXPECT_EQ(kErrorFileNotFound, reg().SHDeleteValue(kHkeyCurrentUser, cu_, "Gone"));
    EXPECT_EQ(kErrorFileNotFound, reg().SHDeleteValue(kHkeyCurrentUser, cu_ + "\\No", "Plain"));
    auto k = Open(kHkeyCurrentUser, cu_, kKeyAllAccess);
    EXPECT_EQ(0u, reg().DeleteValue(k.get(), "Plain"));
    EXPECT_EQ(kErrorFileNotFound, reg().DeleteValue(k.get(), "Plain"));
}

TEST_F(RegistryContract, BadInputIsRefusedWithACode) {
    RegKey out = kSentinel;
    EXPECT_EQ(kErrorBadPathname, reg().OpenKeyEx(kHkeyCurrentUser, "\\Software", kKeyRead, out));
    EXPECT_EQ(kErrorBadPathname, reg().CreateKeyEx(kHkeyCurrentUser, "\\" + cu_, kRegOptionNonVolatile,
                                                   kKeyAllAccess, out, nullptr));

    // An ANSI path beyond 260 characters does not fit the conversion buffer.
    std::string longPath = cu_ + "\\" + std::string(261 - cu_.size() - 1, 'L');
    ASSERT_EQ(261u, longPath.size());
    EXPECT_EQ(kErrorMoreData, reg().CreateKeyEx(kHkeyCurrentUser, longPath, kRegOptionNonVolatile,
                                                kKeyAllAccess, out, nullptr));
    EXPECT_EQ(kErrorMoreData, reg().OpenKeyEx(kHkeyCurrentUser, longPath, kKeyRead, out));
    std::string fits = cu_ + "\\" + std::string(260 - cu_.size() - 1, 'L');
    { auto k = Create(kHkeyCurrentUser, fits); }
    EXPECT_EQ(kSentinel, out);

    auto key = Create(kHkeyCurrentUser, cu_);
    std::string longName(16384, 'n');
    EXPECT_EQ(kErrorInvalidParameter, reg().SetValueEx(key.get(), longName.c_str(), kRegSz, "a", 2));
    longName.pop_back();
    EXPECT_EQ(0u, reg().SetValueEx(key.get(), longName.c_str(), kRegSz, "a", 2));
    EXPECT_EQ(kErrorNoAccess, reg().SetValueEx(key.get(), "NoData", kRegBinary, nullptr, 4));

    EXPECT_EQ(kErrorInvalidHandle, reg().OpenKeyEx(kHkeyPerformanceData, "x", kKeyRead, out));
    EXPECT_EQ(kErrorInvalidHandle, reg().OpenKeyEx(0x12344, "x", kKeyRead, out));
    EXPECT_EQ(kErrorFileNotFound, reg().OpenKeyEx(kHkeyDynData, "x", kKeyRead, out));
    EXPECT_EQ(kSentinel, out);
}

TEST_F(RegistryContract, WideReadsSeeWhatAnsiWrote) {
    {
        auto k = Create(kHkeyCurrentUser, cu_ + "\\Shell Folders");
        SetString(k.get(), "Common AppData", "C:\\ProgramData\\Gr\xfc\xdf");
        const uint32_t dword = 7;
        ASSERT_EQ(0u, reg().SetValueEx(k.get(), "Level", kRegDword, &dword, 4));
    }
    std::u16string path(cu_.begin(), cu_.end());
    path += u"\\shell folders";
    RegKey raw = kSentinel;
    ASSERT_EQ(0u, reg().OpenKeyExW(kHkeyCurrentUser, path, kKeyRead, raw));
    UniqueRegKey key(&reg(), raw);

    const std::u16string expected = u"C:\\ProgramData\\Gr\u00fc\u00df";
    uint32_t type = kSentinel, size = kSentinel;
    ASSERT_EQ(0u, reg().QueryValueExW(key.get(), u"Common AppData", &type, nullptr, &size));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ((expected.size() + 1) * 2, size);
    char16_t text[64];
    uint32_t small = 4;
    EXPECT_EQ(kErrorMoreData, reg().QueryValueExW(key.get(), u"Common AppData", &type, text, &small));
    EXPECT_EQ(size, small);
    ASSERT_EQ(0u, reg().QueryValueExW(key.get(), u"Common AppData", &type, text, &size));
    EXPECT_EQ(expected, std::u16string(text));

    uint32_t dword = 0;
    size = sizeof dword;
    EXPECT_EQ(0u, reg().QueryValueExW(key.get(), u"Level", &type, &dword, &size));
    EXPECT_EQ(kRegDword, type);
    EXPECT_EQ(7u, dword);
    size = sizeof text;
    EXPECT_EQ(kErrorFileNotFound, reg().QueryValueExW(key.get(), u"Local AppData", &type, text, &size));
    EXPECT_EQ(kErrorFileNotFound, reg().OpenKeyExW(kHkeyCurrentUser, path + u"\\none", kKeyRead, raw));
}

TEST_F(RegistryContract, AnsiReadsSeeWhatWideWrote) {
    std::u16string path(cu_.begin(), cu_.end());
    path += u"\\Uninstall\\{GUID}";
    RegKey raw = kSentinel;
    uint32_t disposition = kSentinel;
    ASSERT_EQ(0u, reg().CreateKeyExW(kHkeyCurrentUser, path, kRegOptionNonVolatile, kKeyAllAccess, raw,
                                     &disposition));
    UniqueRegKey key(&reg(), raw);
    EXPECT_EQ(kRegCreatedNewKey, disposition);

    const std::u16string text = u"Gr\u00fc\u00df";
    ASSERT_EQ(0u, reg().SetValueExW(key.get(), u"DisplayName", kRegSz, text.c_str(),
                                    static_cast<uint32_t>((text.size() + 1) * 2)));
    const uint32_t one = 1;
    ASSERT_EQ(0u, reg().SetValueExW(key.get(), u"SystemComponent", kRegDword, &one, 4));
    EXPECT_EQ(0u, reg().FlushKey(key.get()));

    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_EQ(0u, Read(key.get(), "displayname", type, data));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(Bytes("Gr\xfc\xdf", 5), data);
    ASSERT_EQ(0u, Read(key.get(), "SystemComponent", type, data));
    EXPECT_EQ(Bytes(&one, 4), data);

    EXPECT_EQ(0u, reg().DeleteValueW(key.get(), u"SystemComponent"));
    EXPECT_EQ(kErrorFileNotFound, reg().DeleteValueW(key.get(), u"SystemComponent"));
    EXPECT_EQ(kErrorFileNotFound, Read(key.get(), "SystemComponent", type, data));

    // Names and text outside the ANSI code page come back whole through the wide calls.
    const std::u16string greek = u"\u0395\u03bb\u4e2d", cyrillic = u"\u0418\u043c\u044f";
    ASSERT_EQ(0u, reg().CreateKeyExW(key.get(), greek, kRegOptionNonVolatile, kKeyAllAccess, raw, nullptr));
    UniqueRegKey sub(&reg(), raw);
    ASSERT_EQ(0u, reg().SetValueExW(sub.get(), cyrillic.c_str(), kRegSz, greek.c_str(), 8));
    char16_t name[8] = {};
    uint32_t length = 8;
    ASSERT_EQ(0u, reg().EnumKeyExW(key.get(), 0, name, &length));
    EXPECT_EQ(greek, std::u16string(name, length));
    uint32_t size = 8;
    char16_t read[4] = {};
    length = 8;
    ASSERT_EQ(0u, reg().EnumValueW(sub.get(), 0, name, &length, &type, read, &size));
    EXPECT_EQ(cyrillic, std::u16string(name, length));
    EXPECT_EQ(kRegSz, type);
    EXPECT_EQ(greek, std::u16string(read, 3));
    ASSERT_EQ(0u, reg().OpenKeyExOptionsW(key.get(), greek, 0, kDelete, raw));
    EXPECT_EQ(0u, reg().DeleteOpenKey(raw));
    reg().CloseKey(raw);
}

// Under a legacy code page the A calls see a name it cannot hold through best fit: an alias
// that reaches the key or value of that spelling, if there is one, never the one it stands for.
TEST_F(RegistryContract, AnsiCallsSeeBestFitAliasesBesideTheRealNames) {
    if (AnsiCodePage() != 1252) GTEST_SKIP() << "needs the ANSI code page 1252";
    RegKey raw = kSentinel;
    ASSERT_EQ(0u, reg().CreateKeyExW(kHkeyCurrentUser, std::u16string(cu_.begin(), cu_.end()), 0,
                                     kKeyAllAccess, raw, nullptr));
    UniqueRegKey key(&reg(), raw);
    for (const std::u16string name : {u"\u03a9mega", u"Omega", u"\u62a5\u544a"}) {
        ASSERT_EQ(0u, reg().CreateKeyExW(key.get(), name, 0, kKeyAllAccess, raw, nullptr));
        UniqueRegKey sub(&reg(), raw);
        const auto size = static_cast<uint32_t>((name.size() + 1) * sizeof(char16_t));
        ASSERT_EQ(0u, reg().SetValueExW(sub.get(), u"Real", kRegSz, name.c_str(), size));
    }
    const uint32_t one = 1;
    ASSERT_EQ(0u, reg().SetValueExW(key.get(), u"\u03a9val", kRegDword, &one, 4));
    std::vector<std::string> keys = SubKeys(key.get());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ((std::vector<std::string>{"??", "Omega", "Omega"}), keys);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_EQ(0u, Read(Open(key.get(), "Omega").get(), "Real", type, data));
    EXPECT_EQ(Bytes("Omega", 6), data);
    EXPECT_EQ(kErrorFileNotFound, OpenStatus(key.get(), "??"));
    char name[16] = {};
    uint32_t length = sizeof name;
    ASSERT_EQ(0u, reg().EnumValue(key.get(), 0, name, &length, nullptr, nullptr, nullptr));
    EXPECT_EQ("Oval", std::string(name, length));
    EXPECT_EQ(kErrorFileNotFound, reg().DeleteValue(key.get(), "Oval"));
    for (const std::u16string name : {u"\u03a9mega", u"\u62a5\u544a"}) {
        ASSERT_EQ(0u, reg().OpenKeyExOptionsW(key.get(), name, 0, kDelete, raw));
        EXPECT_EQ(0u, reg().DeleteOpenKey(raw));
        reg().CloseKey(raw);
    }
}

}  // namespace
