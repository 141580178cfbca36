#include "engine/cnuke.h"

namespace engine {

CNuke::CNuke(platform::Platform& os) : os_(os) {}

CNuke::~CNuke() = default;

}  // namespace engine
