#include "actions/registry_backup.h"

namespace actions {

RegistryBackup::RegistryBackup(platform::Platform& os) : os_(os) {}

RegistryBackup::~RegistryBackup() = default;

}  // namespace actions
