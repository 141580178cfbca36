// Steps of the run sequence whose subsystems are not in this build yet. Each succeeds
// without changing the machine, so that the sequence around them runs in full.
#include "engine/cnuke.h"

namespace engine {

uint32_t CNuke::ResetLspStack() { return 0; }

void RemoveSecurityCenterEntries(platform::Platform&) {}

}  // namespace engine
