#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "runtime/base_thread.h"

namespace orbisan {

// Calls Tick() every intervalMs until stopped.
class CTickThread : private CBaseThread {
 public:
  explicit CTickThread(IDebugMessage* owner = nullptr) : CBaseThread(owner) {}
  ~CTickThread() override;

  bool StartTicking(const std::string& name);
  bool StopTicking(uint32_t timeoutMs);

  // May be changed while ticking; the next wait uses the new interval.
  void SetInterval(uint32_t intervalMs) { intervalMs_.store(intervalMs); }
  void SetTickOnStart(bool tickOnStart) { tickOnStart_.store(tickOnStart); }
  using CBaseThread::IsRunning;

 protected:
  virtual void Tick() = 0;
  uint32_t ThreadFunction() override;

 private:
  std::atomic<uint32_t> intervalMs_{2000};
  std::atomic<bool> tickOnStart_{false};
};

// Tick calls a member function of an owner object.
template <typename T>
class TTickThread : public CTickThread {
 public:
  using Method = void (T::*)();
  TTickThread(T* object, Method method, IDebugMessage* owner = nullptr)
      : CTickThread(owner), object_(object), method_(method) {}
  ~TTickThread() override { StopTicking(2000); }

 protected:
  void Tick() override {
    if (object_ != nullptr && method_ != nullptr) (object_->*method_)();
  }

 private:
  T* object_;
  Method method_;
};

}  // namespace orbisan
