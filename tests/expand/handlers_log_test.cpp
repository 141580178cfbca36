// The records the handlers write: read failures of registry values and folders, and texts
// that would not fit their buffers.
#include <gtest/gtest.h>

#include <string>

#include "engine/log_capture.h"
#include "expand/folder_macros.h"
#include "expand/handlers_test_util.h"

namespace {

using namespace platform;
using engine::CNuke;
using handlers_test::HandlerTest;
using platform::sim::View;

TEST(HandlerLogs, RegistryReadFailuresAreRecordedWithTheirTag) {
    HandlerTest t;
    enginetest::LogCapture log(t.machine);

    t.machine.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris", "InstallDir", "C:\\KV");
    t.machine.faults.Fail("RegQueryValueExA", kErrorAccessDenied, 1, 2);
    EXPECT_EQ(t.Handle(&CNuke::ListRegValueData, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\INSTALLDIR"),
              kErrorAccessDenied);
    EXPECT_TRUE(log.Has("CNuke::ListRegValueData: ListRegValueData: SHGetValue failed len=")) << log.Text();

    char buffer[260];
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(nullptr, 0), kErrorInvalidParameter);
    EXPECT_TRUE(
        log.Has("CNuke::Get64ProgramFilesPath: Invalid parameters, path is '(null)' and path length is '0'"))
        << log.Text();
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(buffer, sizeof(buffer)), kErrorFileNotFound);
    EXPECT_TRUE(
        log.Has("CNuke::Get64ProgramFilesPath: RegOpenKeyEx FAILED  while trying to get program files path"));
    t.machine.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                  View::K64);
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(buffer, sizeof(buffer)), kErrorFileNotFound);
    EXPECT_TRUE(
        log.Has("CNuke::Get64ProgramFilesPath: RegQueryValue FAILED while trying to get program files path"));

    std::string dir;
    expand::get_google_plugin_dir(t.machine.platform(), dir);
    EXPECT_FALSE(log.Has("get_google_plugin_dir:")) << "a missing key is not worth a record";
    t.machine.registry.CreatePath("HKEY_CURRENT_USER\\SOFTWARE\\Google\\Google Desktop", View::K64);
    expand::get_google_plugin_dir(t.machine.platform(), dir);
    EXPECT_TRUE(log.Has("get_google_plugin_dir: RegQueryValue FAILED")) << log.Text();
}

TEST(HandlerLogs, OverlongTextIsRecordedWithItsStart) {
    HandlerTest t;
    enginetest::LogCapture log(t.machine);
    const std::string deep = "C:\\" + std::string(200, 'D');
    t.machine.files.CreateFile(deep + "\\" + std::string(80, 'L') + ".txt");
    EXPECT_EQ(t.Handle(&CNuke::ExpandFileName, deep + "\\*"), 0u);
    EXPECT_TRUE(t.Listed().empty());
    EXPECT_TRUE(log.Has("CNuke::ExpandFilePattern: Path too long, not listed: 'C:\\DDDD")) << log.Text();

    t.machine.registry.SetString("HKEY_CURRENT_USER\\SOFTWARE\\Kelvaris", "KV" + std::string(250, 'V'), "x");
    EXPECT_EQ(t.Handle(&CNuke::ExpandRegValue, "HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\KV*"), 0u);
    EXPECT_TRUE(
        log.Has("CNuke::ExpandRegValue: Registry text too long, not listed: "
                "'HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\KVVVV"))
        << log.Text();
}

}  // namespace
