// Saves registry values and keys, with everything below them, to a file in the registry
// editor's format before the run deletes them, so that an administrator can put them back
// with "reg import".
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace actions {

class RegistryBackup {
  public:
    explicit RegistryBackup(platform::Platform& os);
    RegistryBackup(const RegistryBackup&) = delete;
    RegistryBackup& operator=(const RegistryBackup&) = delete;
    virtual ~RegistryBackup();

    // The file the run's deletions are saved to (empty until the first save made it).
    const std::string& path() const { return path_; }

  private:
    platform::Platform& os_;
    std::string path_;
};

}  // namespace actions
