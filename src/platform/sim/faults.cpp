#include "platform/sim/faults.h"

namespace platform::sim {

void Faults::Fail(const std::string& call, uint32_t code, int times, int skip) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[call] = Rule{code, times, skip};
}

void Faults::Clear(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.erase(call);
}

void Faults::ClearAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

void Faults::SetHook(std::function<void(const std::string& call)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

uint32_t Faults::Take(const std::string& call) {
    thread_local bool inHook = false;
    if (!inHook) {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hook = hook_;
        }
        if (hook) {
            // A hook may throw (a fault the test raises as an exception): the flag is reset
            // all the same, or no hook would run on this thread again.
            struct Reset {
                ~Reset() { inHook = false; }
            } reset;
            inHook = true;
            hook(call);
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_[call];
    auto it = rules_.find(call);
    if (it == rules_.end()) return 0;
    Rule& rule = it->second;
    if (rule.skip > 0) {
        --rule.skip;
        return 0;
    }
    uint32_t code = rule.code;
    if (rule.times > 0 && --rule.times == 0) rules_.erase(it);
    return code;
}

int Faults::Calls(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

void Faults::ResetCounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

}  // namespace platform::sim
