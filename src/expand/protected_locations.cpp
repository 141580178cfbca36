// Placeholder until the table lands: nothing is protected yet.
#include "expand/protected_locations.h"

#include "engine/engine_log.h"

namespace expand {

ProtectedLocations::ProtectedLocations(platform::Platform& os) : os_(os) {}
const char* ProtectedLocations::FolderReason(const char*) { return nullptr; }
const char* ProtectedLocations::KeyReason(const char*) { return nullptr; }
void ProtectedLocations::Resolve() { resolved_ = true; }

void LogProtectedRefusal(const char* tag, const char* entry, const char* reason) {
    engine::EngineLog(2, "%s: '%s' is a protected location (%s), not removed", tag, entry, reason);
}

}  // namespace expand
