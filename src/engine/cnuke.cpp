#include "engine/cnuke.h"

#include "msitool/msi_tool.h"

namespace engine {

CNuke::CNuke(platform::Platform& os)
    : msiTool([&os](const std::u16string& command, bool skipAdministratorCheck) {
          return msitool::MsiToolRunCommand(os, command, skipAdministratorCheck);
      }),
      os_(os) {}

CNuke::~CNuke() = default;

}  // namespace engine
