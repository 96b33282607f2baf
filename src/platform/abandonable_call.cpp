#include "platform/abandonable_call.h"

#include <dlfcn.h>

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

// A call left running executes code of this module, and the library it calls
// may keep calling back into it: from then on the module must outlive any
// dlclose of the host. Pinned on the first abandonment only, so that a host
// that never meets a hung library unloads the driver as it loaded it.
void PinThisModule() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&PinThisModule), &info) == 0 || info.dli_fname == nullptr) return;
    // The handle is kept for good: it is the pin.
    ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  });
}

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
      PinThisModule();
      worker.detach();
      return woken == 1 ? kStopped : kTimedOut;
    }
  }
  worker.join();  // finished: only the event's Set is left
  return kDone;
}

CAbandonableCall::Outcome CCallSlot::Run(std::function<void()> job, std::function<void()> whenAbandoned, CEvent* stop,
                                         uint32_t timeoutMs) {
  std::shared_ptr<std::atomic<bool>> busy = busy_;
  busy->store(true);
  const auto outcome = CAbandonableCall::Run(
      std::move(job),
      [busy, after = std::move(whenAbandoned)] {
        try {
          if (after) after();
        } catch (...) {
        }
        busy->store(false);
      },
      stop, timeoutMs);
  if (outcome == CAbandonableCall::kDone) busy->store(false);
  return outcome;
}

}  // namespace orbisan
