// %NAME% references in a text replaced from the environment, as ExpandEnvironmentStrings
// replaces them: an unknown or empty name stays as written.
#pragma once

#include <string>

#include "platform/system.h"

namespace platform {

std::string ExpandEnvironmentText(ISystem& sys, const std::string& text);

}  // namespace platform
