// The Winsock layered providers of both catalogues.
#include "engine/cnuke.h"

namespace engine {

uint32_t CNuke::ResetLspStack() { return 0; }

uint32_t CNuke::RemoveKVLsp64() { return 0; }

}  // namespace engine
