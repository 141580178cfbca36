// The preview (--preview): everything a run would decide on this machine, and nothing that it
// would do. The plan names each object the run would take off, with why, and each object it
// would keep, with why.
#pragma once

#include <cstdint>
#include <string>

namespace app {

class Cleaner;

struct PreviewResult {
    // 0, or the code the real run would stop with (1610, 1625, 5, ...).
    uint32_t code = 0;
    // The plan as text, for the console and sweeptool.plan.txt.
    std::string plan;
    // What the plan holds, for the run report.
    uint32_t products = 0;
    uint32_t processes = 0;
    uint32_t services = 0;
    uint32_t files = 0;
    uint32_t values = 0;
    uint32_t keys = 0;
    uint32_t kept = 0;
};

// Runs the detector, the list building and the read-only queries on the cleaner's options.
PreviewResult RunPreview(Cleaner& cleaner);

}  // namespace app
