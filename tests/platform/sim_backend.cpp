// Contract tests natively: each test gets a fresh simulated machine.
#include <gtest/gtest.h>

#include <memory>

#include "contract/backend.h"
#include "platform/sim/sim_machine.h"

namespace contract {

namespace {
class SimBackend : public Backend {
public:
    platform::Platform& os() override { return machine.platform(); }
    bool IsSim() const override { return true; }
    std::string UniqueName(const std::string& stem) override { return stem + "_" + std::to_string(++counter_); }
    void EnsureService(const std::string& name) override {
        if (machine.services.Find(name) == nullptr) machine.services.Add(name);
    }
    platform::sim::SimMachine machine;

private:
    int counter_ = 0;
};

std::unique_ptr<SimBackend> current;
const ::testing::TestInfo* owner = nullptr;
}  // namespace

Backend& GetBackend() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!current || info != owner) {
        current = std::make_unique<SimBackend>();
        owner = info;
    }
    return *current;
}

}  // namespace contract
