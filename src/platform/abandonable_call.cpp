#include "platform/abandonable_call.h"

#include <memory>
#include <mutex>
#include <thread>

namespace orbisan {

namespace {

struct CallState {
  std::mutex mutex;
  bool finished = false;
  bool abandoned = false;
  std::function<void()> job;
  std::function<void()> whenAbandoned;
  CManualEvent done;
};

}  // namespace

CAbandonableCall::Outcome CAbandonableCall::Run(std::function<void()> job, std::function<void()> whenAbandoned,
                                                CEvent* stop, uint32_t timeoutMs) {
  auto state = std::make_shared<CallState>();
  state->job = std::move(job);
  state->whenAbandoned = std::move(whenAbandoned);
  std::thread worker([state] {
    try {
      state->job();
    } catch (...) {
      // An outside library's exception ends only its call.
    }
    bool abandoned;
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      state->finished = true;
      abandoned = state->abandoned;
    }
    if (abandoned && state->whenAbandoned) {
      try {
        state->whenAbandoned();
      } catch (...) {
      }
    }
    state->done.Set();
  });
  CEvent* events[2] = {&state->done, stop};
  const int32_t woken = CEvent::WaitForAny(events, stop != nullptr ? 2 : 1, timeoutMs);
  {
    std::lock_guard<std::mutex> guard(state->mutex);
    if (!state->finished) {
      state->abandoned = true;
      worker.detach();
      return woken == 1 ? kStopped : kTimedOut;
    }
  }
  worker.join();  // finished: only the event's Set is left
  return kDone;
}

}  // namespace orbisan
