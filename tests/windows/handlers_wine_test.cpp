// The configuration entry handlers on the real machine: registry keys in both views, files
// under the real special folders and in a second profile, a real service and this test's
// own process, read from a configuration file with every type and kind of entry. The
// expected lists are the shared table the native suite checks on the simulated machine.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "contract/backend.h"
#include "engine/cnuke.h"
#include "expand/handlers_scenario.h"
#include "windows/under_wine.h"

namespace {

using namespace platform;

constexpr char kConfigPath[] = "C:\\sweepht_handlers.cfg";

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(child.c_str());
            }
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(path.c_str());
}

void RemoveService() {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    SC_HANDLE service = ::OpenServiceA(manager, handlers_scenario::kServiceName, DELETE);
    if (service != nullptr) {
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

void Cleanup(Platform& os, const std::string& user) {
    for (const auto& [root, path] : handlers_scenario::ScratchKeys()) {
        std::string key = path;
        std::string parent = key.substr(0, key.rfind('\\'));
        std::string leaf = key.substr(key.rfind('\\') + 1);
        for (uint32_t view : {kKeyWow64_64Key, kKeyWow64_32Key}) {
            RegKey raw = 0;
            if (os.reg.OpenKeyEx(root, parent, kKeyAllAccess | view, raw) != 0) continue;
            UniqueRegKey handle(&os.reg, raw);
            (void)os.reg.SHDeleteKey(handle.get(), leaf);
        }
    }
    for (const char* dir : handlers_scenario::ScratchDirectories())
        RemoveTree(handlers_scenario::WithUser(dir, user));
    ::DeleteFileA("C:\\windows\\SweepHT.ini");
    ::DeleteFileA(kConfigPath);
    RemoveService();
}

class HandlersOnWine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(os.shell.GetUserName(user));
        Cleanup(os, user);
    }
    void TearDown() override { Cleanup(os, user); }

    Platform& os = contract::GetBackend().os();
    std::string user;
};

TEST_F(HandlersOnWine, EveryTypeAndKindListsTheSharedTable) {
    handlers_scenario::Arrange(os, user, false);

    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << ::GetLastError();
    SC_HANDLE service =
        ::CreateServiceA(manager, handlers_scenario::kServiceName, handlers_scenario::kServiceName,
                         SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                         SERVICE_ERROR_IGNORE, "C:\\x.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(service, nullptr) << ::GetLastError();
    if (service != nullptr) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);

    {
        std::ofstream cfg(kConfigPath);
        cfg << handlers_scenario::kConfig;
    }

    // The arrangement is what the table assumes of this prefix.
    std::string profiles;
    ASSERT_TRUE(os.shell.SHGetSpecialFolderPath(kCsidlAppData, profiles, false));
    EXPECT_EQ(handlers_scenario::Upper(profiles),
              handlers_scenario::Upper("C:\\users\\" + user + "\\AppData\\Roaming"));

    engine::CNuke nuke(os);
    nuke.configPath = kConfigPath;
    handlers_scenario::ExpectListsOf(nuke, user, !UnderWine());
}

}  // namespace
