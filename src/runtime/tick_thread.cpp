#include "runtime/tick_thread.h"

namespace orbisan {

CTickThread::~CTickThread() { StopThread(2000); }

// Starting means polling at once: the first state is read without waiting a
// whole interval.
bool CTickThread::StartTicking(const std::string& name) {
  tickOnStart_ = true;
  return StartThread(name);
}

bool CTickThread::StopTicking(uint32_t timeoutMs) { return StopThread(timeoutMs); }

uint32_t CTickThread::ThreadFunction() {
  if (tickOnStart_) Tick();
  for (;;) {
    if (StopEvent().Wait(intervalMs_.load())) return 0;
    Tick();
  }
}

}  // namespace orbisan
