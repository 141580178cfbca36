#include "engine/config_check.h"

#include "engine/cnuke.h"

namespace engine {

ConfigCheckResult CheckConfiguration(CNuke& engine) {
    ConfigCheckResult result;
    result.code = engine.InitConfigFile();
    result.path = engine.configPath;
    return result;
}

std::string FormatCheckResult(const ConfigCheckResult& result) {
    return result.path + (result.code == 0 ? ": no problems\n" : ": not checked\n");
}

}  // namespace engine
