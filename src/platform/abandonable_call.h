#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/event.h"

namespace orbisan {

// Runs a call into an outside library on a thread of its own, so that the
// caller can stop waiting for it: a library that never returns must not hold
// a stop or a reconnect. The call itself cannot be interrupted; once given
// up on, it finishes on its own thread and then runs the clean-up it was
// given there, and nothing it touches may belong to the caller.
class CAbandonableCall {
 public:
  enum Outcome { kDone, kStopped, kTimedOut };

  // job runs at once on a new thread. Returns kDone once it has finished;
  // kStopped when stop (may be null) was set first, kTimedOut after
  // timeoutMs: then job keeps running and whenAbandoned runs after it.
  static Outcome Run(std::function<void()> job, std::function<void()> whenAbandoned, CEvent* stop, uint32_t timeoutMs);
};

// One owner's calls into a library that may hang: at most one of them is
// left running at a time, so a peer that stalls every call costs one thread
// and one handle, not one per retry. While Busy, the owner starts no call.
class CCallSlot {
 public:
  bool Busy() const { return busy_->load(); }
  // As CAbandonableCall::Run; the slot stays busy until job (and
  // whenAbandoned) ended, also on its own thread.
  CAbandonableCall::Outcome Run(std::function<void()> job, std::function<void()> whenAbandoned, CEvent* stop,
                                uint32_t timeoutMs);

 private:
  std::shared_ptr<std::atomic<bool>> busy_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace orbisan
