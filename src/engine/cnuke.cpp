#include "engine/cnuke.h"

#include "expand/protected_locations.h"
#include "msitool/msi_tool.h"

namespace engine {

CNuke::CNuke(platform::Platform& os)
    : msiTool([&os](const std::u16string& command, bool skipAdministratorCheck) {
          return msitool::MsiToolRunCommand(os, command, skipAdministratorCheck);
      }),
      os_(os) {}

CNuke::~CNuke() = default;

expand::ProtectedLocations& CNuke::Protected() {
    if (!protected_) protected_ = std::make_unique<expand::ProtectedLocations>(os_);
    return *protected_;
}

}  // namespace engine
