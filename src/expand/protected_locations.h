// Locations a removal never takes whole: folders and registry keys whose loss would break
// the machine or destroy other people's data, whatever produced the entry that names them.
// A file or key below them stays removable when it is listed by its own path.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace expand {

class ProtectedLocations {
  public:
    // The folders are resolved against this machine when first asked for.
    explicit ProtectedLocations(platform::Platform& os);
    ProtectedLocations(const ProtectedLocations&) = delete;
    ProtectedLocations& operator=(const ProtectedLocations&) = delete;

    // Why `path` (any letter case, with or without a trailing separator) is a protected
    // folder itself, or null when it is not.
    const char* FolderReason(const char* path);
    // Why the registry key text ("HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft", any case, either
    // view's spelling) is a protected key itself, or null when it is not.
    const char* KeyReason(const char* keyText);

    // Told of every folder or key the two questions above found protected, as it was asked
    // for, with the reason: every caller refuses what is protected, so each answer is an
    // object the run keeps.
    void ObserveRefusals(std::function<void(const char* object, const char* reason)> observer) {
        observer_ = std::move(observer);
    }

  private:
    const char* Refused(const char* object, const char* reason);
    const char* KeyReasonOf(const char* keyText);
    void Resolve();
    void AddFolder(const std::string& path, const char* reason);
    void AddProfileFolder(const std::string& path);
    void AddMacroFolders();
    platform::Platform& os_;
    bool resolved_ = false;
    std::map<std::string, std::string> folders_;  // upper-case path without trailing "\", reason
    std::vector<std::string> profiles_;           // upper-case profile folders found
    std::function<void(const char*, const char*)> observer_;
};

// The one record of a refusal: level 2, the caller's tag, the entry and the reason.
void LogProtectedRefusal(const char* tag, const char* entry, const char* reason);

// The program-files folder of the 64-bit registry view ("ProgramFilesDir"), as the
// %PROGRAM_FILES_64% macro resolves it: 0, 87 for a null buffer or zero size, 2 when it
// cannot be read. Failures are logged only when `logFailures` is set.
uint32_t ReadProgramFilesDir64(platform::Platform& os, char* out, uint32_t size, bool logFailures);

}  // namespace expand
