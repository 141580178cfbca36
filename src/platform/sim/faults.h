// Fault injection for the simulated machine: any call, named as the Win32 function it
// stands for ("RegCreateKeyExA"), can be told to fail with a chosen Windows error code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

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

    // Power lost at the machine's `k`-th call that changes it (k >= 1): that call and every
    // call after it, whatever it is, do nothing and fail with kErrorNotReady, and what the
    // calls before it did stays, as on a machine that was switched off or a process that was
    // ended. k <= 0 takes the cut away. The count of changing calls starts afresh.
    void CutAtChange(int k);
    // Power back: calls act again (what a cut left stays as it was).
    void Restore();
    bool IsCut() const;
    // Changing calls made since the machine was built (or since CutAtChange), a cut one included.
    int Changes() const;
    // The names of the calls that change the machine whatever their arguments; a call whose
    // arguments decide (a file opened for writing) says so itself with TakeChange.
    static bool IsChanging(const std::string& call);
    // The calls a simulated service makes on its own behalf while one call of the program
    // runs (the installer's work inside an uninstall) are that call's: a cut takes the
    // whole call or none of it.
    class WithinOneCall {
      public:
        WithinOneCall();
        ~WithinOneCall();
        WithinOneCall(const WithinOneCall&) = delete;
        WithinOneCall& operator=(const WithinOneCall&) = delete;
    };
    // Whether such a service is at work on this thread now.
    static bool ServiceAtWork();

    // Take for a call that changes the machine this time.
    uint32_t TakeChange(const std::string& call);
    // Take for a call that answers with an HRESULT: a cut machine's calls fail as
    // HRESULT_FROM_WIN32(ERROR_NOT_READY), not with a positive (successful) code.
    int32_t TakeHr(const std::string& call);

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
    std::unordered_map<std::string, int> calls_;  // counted at every call: kept unordered for speed
    std::function<void(const std::string&)> hook_;
    int cutAt_ = 0;
    int changes_ = 0;
    bool cut_ = false;

    uint32_t TakeImpl(const std::string& call, bool changes);
};

}  // namespace platform::sim
