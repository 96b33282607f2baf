#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/debug_message.h"
#include "runtime/event.h"

namespace orbisan {

// A worker thread with a manual-reset stop event and a bounded join.
// Derived classes implement ThreadFunction and must stop the thread in their
// own destructor (the base destructor runs after the derived parts are gone).
class CBaseThread {
 public:
  explicit CBaseThread(IDebugMessage* owner = nullptr);
  virtual ~CBaseThread();
  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  // False (and nothing changed) when the previous thread still runs.
  virtual bool StartThread(const std::string& name);
  // Signals the stop event and waits; after timeoutMs logs a warning and keeps
  // waiting. False only when called from the thread itself.
  virtual bool JoinThread(uint32_t timeoutMs);
  // As JoinThread, with the "will be terminated" warning on time-out. A POSIX
  // thread cannot be killed safely, so it is still waited for.
  virtual bool StopThread(uint32_t timeoutMs);

  bool IsRunning() const;
  std::string ThreadName() const;
  uint32_t ThreadId() const { return threadId_.load(); }
  void SetOwner(IDebugMessage* owner) { owner_ = owner; }
  IDebugMessage* Owner() const { return owner_; }

 protected:
  virtual uint32_t ThreadFunction() = 0;
  // True once a stop was asked for (zero-time check of the stop event).
  bool IsStopping() const { return stopEvent_.IsSet(); }
  CManualEvent& StopEvent() { return stopEvent_; }

 private:
  bool Join(uint32_t timeoutMs, bool terminateOnTimeout);
  void Run();

  // Guards thread_ and name_: start and stop may come from different threads.
  mutable std::mutex threadMutex_;
  std::string name_;
  std::unique_ptr<std::thread> thread_;
  std::atomic<uint32_t> threadId_{0};
  IDebugMessage* owner_;
  CManualEvent stopEvent_;
  CManualEvent finished_;
  CManualEvent published_;
};

}  // namespace orbisan
