// The dialog's run apart from its window: the state it is in, the worker thread that runs
// the cleanup, and whether the finished state may offer a restart.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace app {

class DialogRun {
  public:
    enum class State { Ready, Running, Finished };

    // The worker calls `run` (the cleanup). `finished` is called once the run has ended:
    // on the worker thread after `run`, or on the caller's thread when the worker could not
    // start.
    DialogRun(platform::Platform& os, std::function<void()> run, std::function<void()> finished);
    DialogRun(const DialogRun&) = delete;
    DialogRun& operator=(const DialogRun&) = delete;
    // Waits for the worker, which uses the cleaner and the caller's objects.
    virtual ~DialogRun();

    // START: from Ready to Running, and the worker starts. False when not Ready (a second
    // click) or when the worker could not start; then the run is Finished at once, without
    // a restart to offer, and the failure is logged.
    bool Start();
    // Waits for the worker to end, if one runs.
    void Wait();

    State state() const { return state_; }
    // RESTART only after a run: nothing ran when the worker could not start.
    bool OffersRestart() const { return state_ == State::Finished && ran_; }

  private:
    static uint32_t Worker(void* self);
    void Finish();

    platform::Platform& os_;
    std::function<void()> run_;
    std::function<void()> finished_;
    platform::UniqueSync worker_;
    std::atomic<State> state_{State::Ready};
    std::atomic<bool> ran_{false};
};

}  // namespace app
