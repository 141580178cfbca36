// The product's registrations with the Windows Security Center.
#include "engine/cnuke.h"

namespace engine {

void RemoveSecurityCenterEntries(platform::Platform&) {}

}  // namespace engine
