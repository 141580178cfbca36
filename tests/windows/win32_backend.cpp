// Contract tests under Wine: the real machine, shared by every test of the run.
#include <windows.h>

#include "contract/backend.h"
#include "platform/win32/win32_machine.h"

namespace contract {

namespace {
class Win32Backend : public Backend {
public:
    platform::Platform& os() override { return machine.platform(); }
    bool IsSim() const override { return false; }
    std::string UniqueName(const std::string& stem) override {
        return stem + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter_);
    }
    void EnsureService(const std::string&) override {}
    platform::win32::Win32Machine machine;

private:
    int counter_ = 0;
};
}  // namespace

Backend& GetBackend() {
    static Win32Backend backend;
    return backend;
}

}  // namespace contract
