#include "app/dialog_run.h"

#include <utility>

#include "engine/list_init.h"
#include "logging/engine_log.h"

namespace app {

DialogRun::DialogRun(platform::Platform& os, std::function<void()> run, std::function<void()> finished)
    : os_(os), run_(std::move(run)), finished_(std::move(finished)) {}

DialogRun::~DialogRun() { Wait(); }

bool DialogRun::Start() {
    State ready = State::Ready;
    if (!state_.compare_exchange_strong(ready, State::Running)) return false;
    platform::SyncHandle thread = 0;
    if (!os_.sync.BeginThread(&DialogRun::Worker, this, thread)) {
        const uint32_t error = os_.sys.GetLastError();
        // Nothing ran, so nothing opened the log: open it for this record.
        engine::LogVersionBanner(os_);
        engine::EngineLog(2, "%s: the worker thread could not be started (error %04d); nothing was run",
                          "UIDialog::OnStart", static_cast<int>(error));
        Finish();
        return false;
    }
    worker_.reset(&os_.sync, thread);
    return true;
}

void DialogRun::Wait() {
    if (!worker_) return;
    (void)os_.sync.WaitForSingleObject(worker_.get(), platform::kInfinite);
    worker_.reset();
}

uint32_t DialogRun::Worker(void* self) {
    auto* run = static_cast<DialogRun*>(self);
    if (run->run_) run->run_();
    run->ran_ = true;
    run->Finish();
    return 1;
}

void DialogRun::Finish() {
    // Before the finished buttons show, so that their first click counts.
    state_ = State::Finished;
    if (finished_) finished_();
}

}  // namespace app
