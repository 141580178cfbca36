#include "platform/sim/sim_machine.h"

namespace platform::sim {

SimMachine::SimMachine()
    : system(faults),
      registry(faults, system),
      files(faults, system),
      services(faults, system),
      processes(faults, system, files, shell),  // shell is built later; only its reference is kept
      security(faults, system, registry, files),
      sync(faults, system),
      shell(faults, system),
      installer(faults, system, registry, files),
      winsock(faults, system),
      com(faults, system),
      platform_{system, registry, files,     services, processes, security,
                sync,   shell,    installer, winsock,  com} {
    // Every Windows has its folder and the Logs folder in it, which standard users cannot write.
    files.CreateDirectories(shell.windowsDirectory + "\\Logs");
}

}  // namespace platform::sim
