// The security area on both backends: the user and its SID, access lists of keys and files
// as text, and the 64-bit view reached through an open key.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/acl.h"
#include "contract/backend.h"
#include "platform/acl_text.h"

namespace {

using platform::AceText;

constexpr uint32_t kSentinel = 0xdeadbeef;
constexpr uint32_t kDaclProtected =
    platform::kDaclSecurityInformation | platform::kProtectedDaclSecurityInformation;

std::string CurrentUserSid(platform::Platform& os) {
    std::string user, sid, domain;
    uint32_t sidSize = 256, domainSize = 256, use = kSentinel;
    if (!os.sec.GetUserNameA(user) ||
        !os.sec.LookupAccountNameA(user, &sid, sidSize, &domain, domainSize, use))
        return std::string();
    return sid;
}

TEST(SecurityContract, UserNameAndAccountLookupWithTheSizingCall) {
    platform::Platform& os = contract::GetBackend().os();
    std::string user;
    ASSERT_TRUE(os.sec.GetUserNameA(user));
    EXPECT_FALSE(user.empty());

    uint32_t sidSize = 0, domainSize = 0, use = kSentinel;
    EXPECT_FALSE(os.sec.LookupAccountNameA(user, nullptr, sidSize, nullptr, domainSize, use));
    EXPECT_EQ(platform::kErrorInsufficientBuffer, os.sys.GetLastError());
    EXPECT_GT(sidSize, 8u);
    EXPECT_GT(domainSize, 0u);
    EXPECT_EQ(kSentinel, use);

    std::string sid, domain;
    ASSERT_TRUE(os.sec.LookupAccountNameA(user, &sid, sidSize, &domain, domainSize, use));
    EXPECT_EQ(0u, sid.rfind("S-1-5-", 0)) << sid;
    EXPECT_EQ(platform::SidLength(sid), sidSize);
    EXPECT_EQ(platform::kSidTypeUser, use);

    uint32_t big = 256, bigDomain = 256;
    EXPECT_FALSE(os.sec.LookupAccountNameA("no such account 7f3e", &sid, big, &domain, bigDomain, use));
    EXPECT_EQ(platform::kErrorNoneMapped, os.sys.GetLastError());
}

// The registry deletion's view decisions rest on these two answers of the system area.
TEST(SecurityContract, The32BitProcessFindsItsOptionalEntryPointsAndWow64) {
    platform::Platform& os = contract::GetBackend().os();
    EXPECT_TRUE(os.sys.HasEntryPoint("kernel32", "IsWow64Process"));
    EXPECT_TRUE(os.sys.HasEntryPoint("AdvAPI32.dll", "RegDeleteKeyExA"));
    bool wow64 = false;
    ASSERT_TRUE(os.sys.IsWow64Process(wow64));
    EXPECT_TRUE(wow64) << "both backends stand for a 32-bit process on 64-bit Windows";
}

TEST(SecurityContract, EveryoneGetsFullControlInASingleInheritableEntry) {
    platform::Platform& os = contract::GetBackend().os();
    static const uint8_t kWorld[6] = {0, 0, 0, 0, 0, 1};
    platform::ExplicitAccess e;
    ASSERT_TRUE(os.sec.AllocateAndInitializeSid(kWorld, {0}, e.sid));
    EXPECT_EQ("S-1-1-0", e.sid);
    e.permissions = platform::kGenericAll;
    e.mode = platform::kSetAccess;
    e.inheritance = platform::kSubContainersAndObjectsInherit;
    e.trusteeType = platform::kTrusteeIsWellKnownGroup;

    std::string dacl = "unchanged";
    ASSERT_EQ(0u, os.sec.SetEntriesInAclW({e}, std::string(), dacl));
    std::vector<AceText> aces;
    ASSERT_TRUE(platform::ParseDaclText(dacl, aces)) << dacl;
    EXPECT_THAT(aces, ::testing::ElementsAre(AceText{0, 0x03, platform::kGenericAll, "S-1-1-0"}));
}

class KeySecurityContract : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = contract::GetBackend().UniqueName("SweepSec");
        sub_ = "Software\\" + name_;
        object_ = "CURRENT_USER\\" + sub_;
        Cleanup();
    }
    void TearDown() override { Cleanup(); }
    void Cleanup() {
        platform::Platform& os = contract::GetBackend().os();
        // Whatever a test left, the key must be deletable again.
        (void)os.sec.SetNamedSecurityInfoA(object_, platform::kSeRegistryKey, kDaclProtected, nullptr,
                                           "D:(A;OICI;0x10000000;;;S-1-1-0)");
        (void)os.reg.SHDeleteKey(platform::kHkeyCurrentUser, sub_);
        (void)os.reg.DeleteKeyEx(platform::kHkeyLocalMachine, sub_, platform::kKeyWow64_64Key);
    }

    std::string name_, sub_, object_;
};

TEST_F(KeySecurityContract, AnAccessListThatDeniesEveryoneBlocksDeletionUntilItIsRewritten) {
    platform::Platform& os = contract::GetBackend().os();
    platform::RegKey h = 0;
    ASSERT_EQ(0u,
              os.reg.CreateKeyEx(platform::kHkeyCurrentUser, sub_, 0, platform::kKeyAllAccess, h, nullptr));
    ASSERT_EQ(0u, os.reg.SetValueEx(h, "V", platform::kRegSz, "x", 2));
    os.reg.CloseKey(h);

    ASSERT_EQ(0u, os.sec.SetNamedSecurityInfoA(object_, platform::kSeRegistryKey, kDaclProtected, nullptr,
                                               "D:(D;;0x10000000;;;S-1-1-0)"));
    EXPECT_EQ(platform::kErrorAccessDenied, os.reg.SHDeleteValue(platform::kHkeyCurrentUser, sub_, "V"));
    EXPECT_EQ(platform::kErrorAccessDenied, os.reg.SHDeleteKey(platform::kHkeyCurrentUser, sub_));

    std::string dacl = "unchanged";
    ASSERT_EQ(0u, os.sec.GetNamedSecurityInfoA(object_, platform::kSeRegistryKey,
                                               platform::kDaclSecurityInformation, nullptr, &dacl));
    std::vector<AceText> aces;
    bool isProtected = false;
    ASSERT_TRUE(platform::ParseDaclText(dacl, aces, &isProtected)) << dacl;
    ASSERT_EQ(1u, aces.size()) << dacl;
    EXPECT_EQ(platform::kAccessDeniedAceType, aces[0].type);
    EXPECT_EQ("S-1-1-0", aces[0].sid);

    std::string grant = "D:(A;;0x10000000;;;" + CurrentUserSid(os) + ")";
    ASSERT_EQ(0u, os.sec.SetNamedSecurityInfoA(object_, platform::kSeRegistryKey, kDaclProtected, nullptr,
                                               grant.c_str()));
    EXPECT_EQ(0u, os.reg.SHDeleteValue(platform::kHkeyCurrentUser, sub_, "V"));
    EXPECT_EQ(0u, os.reg.SHDeleteKey(platform::kHkeyCurrentUser, sub_));
    EXPECT_EQ(platform::kErrorFileNotFound,
              os.sec.GetNamedSecurityInfoA(object_, platform::kSeRegistryKey,
                                           platform::kDaclSecurityInformation, nullptr, &dacl));
}

TEST_F(KeySecurityContract, The64BitViewIsReachedThroughAnOpenKeyNotByName) {
    platform::Platform& os = contract::GetBackend().os();
    platform::RegKey h = 0;
    ASSERT_EQ(0u, os.reg.CreateKeyEx(platform::kHkeyLocalMachine, sub_, 0,
                                     platform::kKeyAllAccess | platform::kKeyWow64_64Key, h, nullptr));
    platform::UniqueRegKey key(&os.reg, h);
    std::string sid = CurrentUserSid(os);
    ASSERT_FALSE(sid.empty());

    ASSERT_EQ(0u,
              os.sec.SetSecurityInfo(key.get(), platform::kOwnerSecurityInformation, sid.c_str(), nullptr));
    std::string owner = "unchanged", dacl = "unchanged";
    ASSERT_EQ(0u, os.sec.GetSecurityInfo(key.get(), platform::kOwnerSecurityInformation, &owner, &dacl));
    EXPECT_EQ(sid, owner);
    EXPECT_EQ("unchanged", dacl);  // not asked for

    std::string grant = "D:(A;OICI;0x10000000;;;" + sid + ")";
    EXPECT_EQ(0u, os.sec.SetSecurityInfo(key.get(), kDaclProtected, nullptr, grant.c_str()));
    EXPECT_EQ(platform::kErrorFileNotFound,
              os.sec.GetNamedSecurityInfoA("MACHINE\\" + sub_, platform::kSeRegistryKey,
                                           platform::kDaclSecurityInformation, nullptr, &dacl));
}

// The run's rewrite of a key's list is the key's alone: its grant is not inheritable, and a
// subkey keeps its list, where SetSecurityInfo carries inheritable entries down to it.
TEST_F(KeySecurityContract, TheRewriteOfAKeyLeavesItsSubkeysAsTheyWere) {
    platform::Platform& os = contract::GetBackend().os();
    platform::RegKey h = 0;
    ASSERT_EQ(0u, os.reg.CreateKeyEx(platform::kHkeyCurrentUser, sub_ + "\\Child", 0, platform::kKeyAllAccess,
                                     h, nullptr));
    os.reg.CloseKey(h);
    const std::string sid = CurrentUserSid(os);
    const std::string grant = "D:(A;CI;0x10000000;;;" + sid + ")(A;CI;0x20019;;;S-1-1-0)";
    ASSERT_EQ(0u, os.sec.SetNamedSecurityInfoA(object_, platform::kSeRegistryKey, kDaclProtected, nullptr,
                                               grant.c_str()));
    auto dacl = [&](const std::string& object) {
        std::string out = "unread";
        EXPECT_EQ(0u, os.sec.GetNamedSecurityInfoA(object, platform::kSeRegistryKey,
                                                   platform::kDaclSecurityInformation, nullptr, &out));
        return out;
    };
    const std::string before = dacl(object_ + "\\Child");

    EXPECT_EQ(0u, actions::DropRegKeyAcl(os, platform::kHkeyCurrentUser, sub_.c_str()));
    EXPECT_EQ(before, dacl(object_ + "\\Child"));
    std::vector<AceText> aces;
    ASSERT_TRUE(platform::ParseDaclText(dacl(object_), aces)) << dacl(object_);
    for (const AceText& a : aces)
        EXPECT_TRUE(a.sid != sid ||
                    (a.flags & (platform::kObjectInheritAce | platform::kContainerInheritAce)) == 0)
            << dacl(object_);

    // Wine passes nothing down; Windows and the sim do.
    if (contract::UnderWine()) return;
    ASSERT_EQ(0u, os.sec.SetNamedSecurityInfoA(object_, platform::kSeRegistryKey, kDaclProtected, nullptr,
                                               "D:(A;CI;0x10000000;;;S-1-5-18)"));
    EXPECT_NE(before, dacl(object_ + "\\Child"));
}

}  // namespace
