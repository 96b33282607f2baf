#include "runtime/base_thread.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "runtime/thread_id.h"
#include "runtime/time_utils.h"

namespace orbisan {
namespace {

// A session's threads end at every reconnect. glibc keeps the pages freed on
// the heap arena each ran on, and the next session's threads land on other
// arenas: over months of reconnects the driver would hold more and more
// memory that nothing uses. Hand the free pages back as a thread ends, at
// most once a second for the whole process (the walk locks each arena).
void ReturnFreePages() {
#if defined(__GLIBC__)
  static std::atomic<uint64_t> lastMs{0};
  const uint64_t now = SteadyMs();
  uint64_t last = lastMs.load();
  if ((last != 0 && now - last < 1000) || !lastMs.compare_exchange_strong(last, now)) return;
  malloc_trim(0);
#endif
}

}  // namespace

CBaseThread::CBaseThread(IDebugMessage* owner) : owner_(owner) {}

CBaseThread::~CBaseThread() {
  StopThread(2000);
  if (thread_ && thread_->joinable()) thread_->detach();  // destroyed from its own body
}

bool CBaseThread::IsRunning() const {
  std::lock_guard<std::mutex> lock(threadMutex_);
  return thread_ != nullptr && !finished_.IsSet();
}

void CBaseThread::Run() {
  // The body may join or stop itself, which looks at thread_: wait until the
  // starting thread has stored it.
  published_.Wait(kInfinite);
  threadId_.store(CurrentThreadId());
  ThreadFunction();
  ReturnFreePages();
  finished_.Set();
}

bool CBaseThread::StartThread(const std::string& name) {
  {
    std::lock_guard<std::mutex> lock(threadMutex_);
    // A thread still running (perhaps being stopped by another caller)
    // keeps its stop request.
    if (thread_ && !finished_.IsSet()) return false;
    stopEvent_.Reset();
    if (thread_ && thread_->joinable()) thread_->join();  // ended already: returns at once
    thread_.reset();
    name_ = name;
    finished_.Reset();
    published_.Reset();
    threadId_.store(0);
    try {
      thread_ = std::make_unique<std::thread>([this] { Run(); });
    } catch (...) {
      thread_.reset();
      finished_.Set();
      return false;
    }
  }
  published_.Set();
  return true;
}

std::string CBaseThread::ThreadName() const {
  std::lock_guard<std::mutex> lock(threadMutex_);
  return name_;
}

bool CBaseThread::JoinThread(uint32_t timeoutMs) { return Join(timeoutMs, false); }

bool CBaseThread::StopThread(uint32_t timeoutMs) { return Join(timeoutMs, true); }

bool CBaseThread::Join(uint32_t timeoutMs, bool terminateOnTimeout) {
  stopEvent_.Set();
  std::string name;
  std::thread::id waitedFor;
  {
    // The wait below runs without the lock: the body may look at its own
    // thread (a self-join) before it ends.
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (!thread_) return true;
    if (thread_->get_id() == std::this_thread::get_id()) return false;
    name = name_;
    waitedFor = thread_->get_id();
  }
  if (!finished_.Wait(timeoutMs)) {
    const std::string device = owner_ ? owner_->GetDeviceName() : std::string();
    if (owner_) {
      if (terminateOnTimeout) {
        owner_->DebugMessage(kLogWarning,
                             "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu "
                             "milliseconds and will be terminated!",
                             "orbisan::CBaseThread::StopThread", threadId_.load(), name.c_str(), device.c_str(),
                             static_cast<unsigned long>(timeoutMs));
      } else {
        owner_->DebugMessage(kLogWarning,
                             "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu "
                             "milliseconds",
                             "orbisan::CBaseThread::JoinThread", threadId_.load(), name.c_str(), device.c_str(),
                             static_cast<unsigned long>(timeoutMs));
      }
    }
    finished_.Wait(kInfinite);
    if (owner_ && !terminateOnTimeout) {
      owner_->DebugMessage(kLogInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                           "orbisan::CBaseThread::JoinThread", threadId_.load(), name.c_str());
    }
  }
  std::lock_guard<std::mutex> lock(threadMutex_);
  // Another caller may have joined it meanwhile, and even started the next.
  if (thread_ && thread_->get_id() == waitedFor) {
    thread_->join();
    thread_.reset();
  }
  return true;
}

}  // namespace orbisan
