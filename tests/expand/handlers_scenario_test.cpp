// The shared configuration with every type and kind of entry, on a simulated machine laid
// out as the Wine test prefix is. The Windows-side test checks the same table for real.
#include "expand/handlers_scenario.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_machine.h"

namespace {

using namespace platform;

TEST(HandlersScenario, EveryTypeAndKindListsWhatTheWineMachineLists) {
    for (const std::string user : {"root", "Tester"}) {
        sim::SimMachine machine;
        machine.shell.userName = user;
        machine.shell.profilesRoot = "C:\\users";
        machine.shell.windowsDirectory = "C:\\windows";
        machine.shell.systemDirectory = "C:\\windows\\system32";
        machine.files.CreateDirectories("C:\\users\\Public\\Desktop");
        machine.files.CreateDirectories("C:\\users\\" + user + "\\AppData\\Roaming");
        machine.services.Add(handlers_scenario::kServiceName, sim::SimServiceState::Stopped);
        machine.services.Add("Spooler", sim::SimServiceState::Running);
        machine.processes.Add(handlers_scenario::kProcessName);
        handlers_scenario::Arrange(machine.platform(), user, true);
        machine.files.CreateFile("C:\\Tools\\sweeptool.cfg", handlers_scenario::kConfig);

        engine::CNuke nuke(machine.platform());
        nuke.configPath = "C:\\Tools\\sweeptool.cfg";
        SCOPED_TRACE(user);
        handlers_scenario::ExpectListsOf(nuke, user);
    }
}

}  // namespace
