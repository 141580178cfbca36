// Fault injection for the simulated machine: any call, named as the Win32 function it
// stands for ("RegCreateKeyExA"), can be told to fail with a chosen Windows error code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace platform::sim {

class Faults {
  public:
    // The next `times` calls of `call` (after `skip` calls that succeed) fail with `code`.
    // times < 0: every call from then on fails.
    void Fail(const std::string& call, uint32_t code, int times = 1, int skip = 0);
    void Clear(const std::string& call);
    void ClearAll();

    // Called by the simulated call itself: counts the call and returns the error to fail
    // with, or 0 to go on.
    uint32_t Take(const std::string& call);

    // Runs `hook` with the call's name at the start of every simulated call from then on
    // (null: none), except the calls the hook makes itself: a standard user acting between
    // two calls of a run. The hook runs before the call takes any lock of the machine.
    void SetHook(std::function<void(const std::string& call)> hook);

    // How often `call` was made since the machine was built (or ResetCounts).
    int Calls(const std::string& call) const;
    void ResetCounts();

  private:
    struct Rule {
        uint32_t code = 0;
        int times = 0;
        int skip = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Rule> rules_;
    std::map<std::string, int> calls_;
    std::function<void(const std::string&)> hook_;
};

}  // namespace platform::sim
