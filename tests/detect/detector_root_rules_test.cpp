// Which root folders refuse the removal: a table of roots on a 64-bit machine as a 32-bit
// program sees it, then the rules that depend on the machine.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "detect/detector.h"
#include "detect/detector_fixture.h"
#include "platform/ansi.h"

namespace {

using namespace detecttest;

class RootRules : public DetectorTest {
  protected:
    void SetUp() override {
        DetectorTest::SetUp();
        StandardEnvironment();
        m.files.AddDrive('E', platform::kDriveRemovable);
        m.files.AddDrive('N', platform::kDriveRemote);
        m.files.CreateDirectories("C:\\Program Files\\Kelvaris");
        m.files.CreateDirectories("C:\\Program Files (x86)\\Kelvaris");
    }
    uint32_t Check(const std::string& root) {
        m.registry.SetString(kAgent, "InstallPath", root);
        detect::CDetector d(m.platform());
        uint32_t blocked = d.CheckInstallationPath();
        EXPECT_EQ(blocked, d.removalBlocked) << root;
        return blocked;
    }
};

struct Root {
    const char* path;
    uint32_t unsafe;
};

TEST_F(RootRules, TheTableOfRoots) {
    const Root roots[] = {
        // A product's own folder anywhere but inside the protected places.
        {"C:\\Program Files\\Kelvaris\\Suite\\", 0},
        {"C:\\Program Files (x86)\\Kelvaris", 0},
        {"c:/program files (x86)//kelvaris/", 0},
        {"D:\\Apps\\Kelvaris", 0},
        {"E:\\Kelvaris", 0},
        {"C:\\Users", 0},  // the folder of all profiles is not below a profile
        {"C:\\ProgramData\\Kelvaris", 0},
        {"C:\\Program Files\\Common Files\\Kelvaris", 0},
        // Below a profile, the old profiles folder, Windows.
        {"C:\\Users\\bob\\App", 1},
        {"C:\\Documents and Settings\\All Users\\App", 1},
        {"C:\\Windows", 1},
        {"C:\\WINDOWS\\System32\\Kelvaris", 1},
        // The machine's program, common-files and shared-data folders themselves.
        {"C:\\Program Files", 1},
        {"c:\\program files\\", 1},
        {"C:\\Program Files (x86)", 1},
        {"C:\\Program Files\\Common Files", 1},
        {"C:\\Program Files (x86)\\Common Files", 1},
        {"C:\\ProgramData", 1},
        // Drive roots, of every kind, there or not.
        {"C:\\", 1},
        {"C:", 1},
        {"c:/", 1},
        {"E:\\", 1},
        {"N:", 1},
        {"Z:\\", 1},
        // Spellings that Windows reads as a protected folder, and paths that are not absolute.
        {"C:\\Program Files\\Kelvaris\\..", 1},
        {"C:\\Program Files\\Kelvaris\\.\\..", 1},
        {"C:\\Program Files\\.", 1},
        {"C:\\Program Files.", 1},
        {"C:\\Program Files ", 1},
        {"C:\\Program Files::$INDEX_ALLOCATION", 1},
        {"C:\\Program Files\\Kel*", 1},
        {"C:Kelvaris", 1},
        {"Kelvaris\\Suite", 1},
        {"\\Kelvaris", 1},
        {"\\\\server\\share\\Kelvaris", 1},
        {"\\\\?\\C:\\Program Files", 1},
    };
    for (const Root& r : roots) EXPECT_EQ(r.unsafe, Check(r.path)) << r.path;
}

TEST_F(RootRules, EachMachineFolderCountsOnlyWhenSet) {
    m.system.environment.clear();
    // Nothing set: only the fixed texts and the drive roots remain.
    EXPECT_EQ(0u, Check("C:\\Program Files (x86)"));
    EXPECT_EQ(0u, Check("C:\\Windows\\Temp"));
    EXPECT_EQ(1u, Check("C:\\Users\\bob"));
    EXPECT_EQ(1u, Check("D:"));
    const char16_t* const names[] = {u"ProgramFiles",
                                     u"ProgramW6432",
                                     u"ProgramFiles(x86)",
                                     u"CommonProgramFiles",
                                     u"CommonProgramFiles(x86)",
                                     u"CommonProgramW6432",
                                     u"ProgramData",
                                     u"ALLUSERSPROFILE"};
    for (const char16_t* name : names) {
        m.system.environment.clear();
        Env(name, u"D:\\Shared\\");
        EXPECT_EQ(1u, Check("d:\\shared")) << platform::Utf16ToAnsi(name);
        EXPECT_EQ(0u, Check("D:\\Shared\\Kelvaris")) << platform::Utf16ToAnsi(name);
    }
    // Set but empty is not set.
    m.system.environment.clear();
    Env(u"WINDIR", u"");
    EXPECT_EQ(0u, Check("D:\\Kelvaris"));
}

TEST_F(RootRules, ValuesLongerThanAPathBufferAreComparedWhole) {
    std::u16string longFolder = u"D:\\";
    while (longFolder.size() < 300) longFolder += u"Folder\\";
    const std::string longText = platform::Utf16ToAnsi(longFolder);
    Env(u"WINDIR", longFolder);
    EXPECT_EQ(1u, Check(longText + "Kelvaris"));
    EXPECT_EQ(0u, Check(longText.substr(0, 259) + "X\\Kelvaris"));
    m.system.environment.erase(u"WINDIR");
    Env(u"ProgramFiles", longFolder);
    EXPECT_EQ(1u, Check(longText));
    EXPECT_EQ(0u, Check(longText.substr(0, 259)));
}

// Windows finds a folder by its 8.3 name too; the simulated file system only matches short
// names in patterns, so this one answers exact names the way Windows does.
class ShortNameFiles : public platform::sim::SimFileSystem {
  public:
    using SimFileSystem::SimFileSystem;
    std::map<std::string, std::string> longPaths;  // "C:\PROGRA~1" -> "C:\Program Files"
    bool FindFirstFileA(const std::string& pattern, platform::FindDataA& data,
                        platform::FindHandle& out) override {
        auto it = longPaths.find(pattern);
        return SimFileSystem::FindFirstFileA(it != longPaths.end() ? it->second : pattern, data, out);
    }
};

TEST_F(RootRules, ShortNamesAreReadAsTheFolderTheyName) {
    ShortNameFiles files(m.faults, m.system);
    files.CreateDirectories("C:\\Program Files\\Kelvaris");
    files.CreateDirectories("C:\\Users\\bob");
    files.longPaths = {{"C:\\PROGRA~1", "C:\\Program Files"},
                       {"C:\\PROGRAM FILES\\KELVAR~1", "C:\\Program Files\\Kelvaris"},
                       {"C:\\USERS~1", "C:\\Users"}};
    platform::Platform os{m.system, m.registry, files,       m.services, m.processes, m.security,
                          m.sync,   m.shell,    m.installer, m.winsock,  m.com};
    auto check = [&](const char* root) {
        m.registry.SetString(kAgent, "InstallPath", root);
        detect::CDetector d(os);
        return d.CheckInstallationPath();
    };
    EXPECT_EQ(1u, check("C:\\PROGRA~1"));
    EXPECT_EQ(0u, check("C:\\PROGRA~1\\KELVAR~1"));
    EXPECT_EQ(1u, check("C:\\USERS~1\\bob"));
    // A short name that names nothing is taken as it is written.
    EXPECT_EQ(0u, check("C:\\KELVAR~9"));
    EXPECT_EQ(0, files.OpenFindHandles());
}

}  // namespace
