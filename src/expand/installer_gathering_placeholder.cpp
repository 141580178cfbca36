// Placeholders for the installer-database gatherings that list initialisation runs. They
// find nothing until the installer-database subsystem replaces this file; their codes
// never stop list initialisation.
#include "engine/cnuke.h"

namespace engine {

uint32_t CNuke::GatherS1518ComponentQtAssemblies() { return 0; }
void CNuke::ProductBasedMSIRemoval() {}

}  // namespace engine
