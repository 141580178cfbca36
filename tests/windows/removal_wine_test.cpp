// Registry and file removal on the real machine: access lists that refuse a deletion, the
// 64-bit view, and the restart queue.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "actions/acl.h"
#include "engine/cnuke.h"
#include "platform/acl_text.h"
#include "platform/win32/win32_machine.h"

namespace {

constexpr uint32_t kDaclProtected =
    platform::kDaclSecurityInformation | platform::kProtectedDaclSecurityInformation;

bool UnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class RemovalWine : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = "SweepRemoval_" + std::to_string(::GetCurrentProcessId()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        sub_ = "Software\\" + name_;
        Cleanup();
    }
    void TearDown() override { Cleanup(); }
    void Cleanup() {
        (void)m_.security.SetNamedSecurityInfoA("CURRENT_USER\\" + sub_, platform::kSeRegistryKey,
                                                kDaclProtected, nullptr, "D:(A;OICI;0x10000000;;;S-1-1-0)");
        (void)m_.registry.SHDeleteKey(platform::kHkeyCurrentUser, sub_);
        (void)m_.registry.DeleteKeyEx(platform::kHkeyLocalMachine, sub_ + "\\Child",
                                      platform::kKeyWow64_64Key);
        (void)m_.registry.DeleteKeyEx(platform::kHkeyLocalMachine, sub_, platform::kKeyWow64_64Key);
    }
    void Create(platform::RegKey root, const std::string& path, uint32_t view, const char* value) {
        platform::RegKey h = 0;
        ASSERT_EQ(0u, m_.registry.CreateKeyEx(root, path, 0, platform::kKeyAllAccess | view, h, nullptr));
        if (value != nullptr) EXPECT_EQ(0u, m_.registry.SetValueEx(h, value, platform::kRegSz, "x", 2));
        m_.registry.CloseKey(h);
    }
    bool Exists(platform::RegKey root, const std::string& path, uint32_t view) {
        platform::RegKey h = 0;
        if (m_.registry.OpenKeyEx(root, path, platform::kKeyRead | view, h) != 0) return false;
        m_.registry.CloseKey(h);
        return true;
    }
    std::string UserSid() {
        std::string user, sid;
        EXPECT_TRUE(m_.security.GetUserNameA(user));
        EXPECT_EQ(0u, actions::GetAccountSid(m_.platform(), &sid, user.c_str()));
        return sid;
    }
    // A list that refuses the user everything. (A denial of a group the user belongs to,
    // such as Everyone, outlasts DropRegKeyAcl: it only replaces the user's own entries.)
    void DenyUser() {
        std::string dacl = "D:P(D;;0x10000000;;;" + UserSid() + ")(A;;0x10000000;;;S-1-5-18)";
        ASSERT_EQ(0u, m_.security.SetNamedSecurityInfoA("CURRENT_USER\\" + sub_, platform::kSeRegistryKey,
                                                        kDaclProtected, nullptr, dacl.c_str()));
    }

    platform::win32::Win32Machine m_;
    engine::CNuke nuke_{m_.platform()};
    std::string name_, sub_;
};

TEST_F(RemovalWine, DropRegKeyAclLetsARefusedValueAndKeyDeletionThrough) {
    Create(platform::kHkeyCurrentUser, sub_ + "\\Child", 0, "C");
    Create(platform::kHkeyCurrentUser, sub_, 0, "V");
    DenyUser();
    ASSERT_EQ(platform::kErrorAccessDenied, m_.registry.SHDeleteValue(platform::kHkeyCurrentUser, sub_, "V"));
    ASSERT_EQ(platform::kErrorAccessDenied, m_.registry.SHDeleteKey(platform::kHkeyCurrentUser, sub_));

    std::string display = "HKEY_CURRENT_USER\\" + sub_;
    EXPECT_TRUE(nuke_.DeleteRegistryValue(platform::kHkeyCurrentUser, sub_.c_str(), "V", display.c_str()));
    // The listed text is upper case, as every list entry is.
    std::string entry = "HKEY_CURRENT_USER\\SOFTWARE\\" + name_;
    for (char& c : entry) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(nuke_.DeleteRegistryKey(entry.c_str()));
    EXPECT_FALSE(Exists(platform::kHkeyCurrentUser, sub_, 0));
}

TEST_F(RemovalWine, DropRegKeyAclPutsTheUsersEntriesWhereItsDenialWas) {
    Create(platform::kHkeyCurrentUser, sub_, 0, nullptr);
    DenyUser();
    ASSERT_EQ(0u, actions::DropRegKeyAcl(m_.platform(), platform::kHkeyCurrentUser, sub_.c_str()));
    std::string dacl;
    ASSERT_EQ(0u, m_.security.GetNamedSecurityInfoA("CURRENT_USER\\" + sub_, platform::kSeRegistryKey,
                                                    platform::kDaclSecurityInformation, nullptr, &dacl));
    std::vector<platform::AceText> aces;
    ASSERT_TRUE(platform::ParseDaclText(dacl, aces)) << dacl;
    std::string sid = UserSid();
    // The grant is the key's own: nothing of it is inherited below.
    EXPECT_THAT(aces, ::testing::ElementsAre(platform::AceText{0, 0, platform::kGenericAll, sid},
                                             platform::AceText{0, 0, platform::kGenericAll, "S-1-5-18"}));
}

TEST_F(RemovalWine, ListedDefaultValueAndValueNameWithBackslashAreDeleted) {
    Create(platform::kHkeyCurrentUser, sub_, 0, "A\\B");
    Create(platform::kHkeyCurrentUser, sub_, 0, "");
    Create(platform::kHkeyCurrentUser, sub_, 0, "A");
    std::string key = "HKEY_CURRENT_USER\\SOFTWARE\\" + name_;
    for (char& c : key) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(0u, nuke_.regValueList.Insert((key + "\\A---B").c_str()));
    ASSERT_EQ(0u, nuke_.regValueList.Insert((key + "\\").c_str()));

    EXPECT_EQ(0u, nuke_.CleanupRegValues());

    char name[64];
    uint32_t length = sizeof name;
    platform::RegKey h = 0;
    ASSERT_EQ(0u, m_.registry.OpenKeyEx(platform::kHkeyCurrentUser, sub_, platform::kKeyRead, h));
    platform::UniqueRegKey opened(&m_.registry, h);
    ASSERT_EQ(0u, m_.registry.EnumValue(h, 0, name, &length, nullptr, nullptr, nullptr));
    EXPECT_STREQ("A", name);
    length = sizeof name;
    EXPECT_EQ(platform::kErrorNoMoreItems,
              m_.registry.EnumValue(h, 1, name, &length, nullptr, nullptr, nullptr));
}

// Windows refuses RegDeleteKey when the key's list denies DELETE alone; Wine checks the
// list when a key is opened for reading or writing, but not for deletion.
TEST_F(RemovalWine, DenyingOnlyDeleteIsAKnownWineGap) {
    Create(platform::kHkeyCurrentUser, sub_, 0, nullptr);
    ASSERT_EQ(0u, m_.security.SetNamedSecurityInfoA("CURRENT_USER\\" + sub_, platform::kSeRegistryKey,
                                                    kDaclProtected, nullptr,
                                                    "D:(D;;0x10000;;;S-1-1-0)(A;;0x10000000;;;S-1-1-0)"));
    uint32_t rc = m_.registry.DeleteKey(platform::kHkeyCurrentUser, sub_);
    if (UnderWine())
        EXPECT_EQ(0u, rc) << "Wine now checks DELETE: drop this mark";
    else
        EXPECT_EQ(platform::kErrorAccessDenied, rc);
}

TEST_F(RemovalWine, KeysAndValuesOnlyIn64BitViewAreDeletedThere) {
    ASSERT_TRUE(nuke_.IsWow64()) << "the Windows suite runs as a 32-bit process in a 64-bit prefix";
    Create(platform::kHkeyLocalMachine, sub_, platform::kKeyWow64_64Key, "V");
    Create(platform::kHkeyLocalMachine, sub_ + "\\Child", platform::kKeyWow64_64Key, nullptr);
    ASSERT_FALSE(Exists(platform::kHkeyLocalMachine, sub_, 0));

    std::string display = "HKEY_LOCAL_MACHINE\\" + sub_;
    EXPECT_TRUE(nuke_.DeleteRegistryValue(platform::kHkeyLocalMachine, sub_.c_str(), "V", display.c_str()));
    std::string entry = "HKEY_LOCAL_MACHINE\\" + sub_;
    // One key at a time in the 64-bit view: the parent stays while it has a subkey.
    EXPECT_FALSE(nuke_.DeleteRegistryKey(entry.c_str()));
    EXPECT_TRUE(Exists(platform::kHkeyLocalMachine, sub_, platform::kKeyWow64_64Key));
    EXPECT_TRUE(nuke_.DeleteRegistryKey((entry + "\\Child").c_str()));
    EXPECT_TRUE(nuke_.DeleteRegistryKey(entry.c_str()));
    EXPECT_FALSE(Exists(platform::kHkeyLocalMachine, sub_, platform::kKeyWow64_64Key));
}

// The file leaves its folder for the volume's staging folder at once, loses its read-only
// attribute there (a restart leaves a read-only file in place), and only the staged name and
// then the staging folder are queued.
TEST_F(RemovalWine, RemovePathStagesAReadOnlyFileAndQueuesOnlyItsStagedName) {
    char temp[MAX_PATH];
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    std::string path = std::string(temp) + name_ + ".tmp";
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY,
                             nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ::CloseHandle(h);

    EXPECT_EQ(1u, nuke_.DropFileAcl(path.c_str()));
    EXPECT_TRUE(nuke_.RemovePath(path.c_str()));

    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(path.c_str()));
    HKEY sm = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              KEY_QUERY_VALUE, &sm));
    std::vector<char> data(1 << 20);
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LSTATUS rc = ::RegQueryValueExA(sm, "PendingFileRenameOperations", nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &size);
    ::RegCloseKey(sm);
    ASSERT_EQ(ERROR_SUCCESS, rc);
    std::vector<std::string> staged;
    for (size_t at = 0; at < size;) {
        std::string entry(&data[at]);
        at += entry.size() + 1;
        EXPECT_EQ(std::string::npos, entry.find(name_)) << "queued by its own name: " << entry;
        if (entry.find("$SweepTool.Staging.") != std::string::npos)
            staged.push_back(entry.substr(4));  // "\??\"
    }
    ASSERT_GE(staged.size(), 2u);
    const std::string file = staged[staged.size() - 2], folder = staged.back();
    EXPECT_EQ(0u, file.rfind(folder + "\\", 0)) << file;
    DWORD attributes = ::GetFileAttributesA(file.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << file;
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_READONLY);
    ::DeleteFileA(file.c_str());
    ::RemoveDirectoryA(folder.c_str());
}

// A file with a second name shares its list with it: the list is left as it is.
TEST_F(RemovalWine, AFileWithASecondNameKeepsItsAccessList) {
    char temp[MAX_PATH];
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    const std::string path = std::string(temp) + name_ + ".one", other = std::string(temp) + name_ + ".two";
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ::CloseHandle(h);
    ASSERT_TRUE(::CreateHardLinkA(other.c_str(), path.c_str(), nullptr)) << ::GetLastError();
    EXPECT_EQ(0u, nuke_.DropFileAcl(path.c_str()));
    ::DeleteFileA(other.c_str());
    EXPECT_EQ(1u, nuke_.DropFileAcl(path.c_str()));
    ::DeleteFileA(path.c_str());
}

}  // namespace
