#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "channels/host_callback_scope.h"

namespace orbisan {

// Lets calls into a host sink through while open. Close shuts it and waits
// for the calls under way on other threads, so that once it returns nothing
// reaches the sink any more. A call under way on the closing thread itself
// (the host stopping from inside it) is not waited for: it ends when the
// host returns from it. The host must not, from inside one callback, wait
// for something that another stream's callback holds.
class CDeliveryGate {
 public:
  // One call into the sink, made only when admitted; the thread counts as
  // inside a host callback meanwhile.
  class CPass {
   public:
    explicit CPass(CDeliveryGate& gate) : gate_(gate), admitted_(gate.Enter()) {}
    ~CPass() {
      if (admitted_) gate_.Leave();
    }
    CPass(const CPass&) = delete;
    CPass& operator=(const CPass&) = delete;
    explicit operator bool() const { return admitted_; }

   private:
    CDeliveryGate& gate_;
    bool admitted_;
    CHostCallbackScope scope_;
  };

  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
  }

  void Close() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;
    left_.wait(lock, [&] {
      for (const std::thread::id& inside : inside_) {
        if (inside != self) return false;
      }
      return true;
    });
  }

 private:
  bool Enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return false;
    inside_.push_back(std::this_thread::get_id());
    return true;
  }

  void Leave() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = inside_.begin(); it != inside_.end(); ++it) {
        if (*it == std::this_thread::get_id()) {
          inside_.erase(it);
          break;
        }
      }
    }
    left_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable left_;
  bool open_ = true;
  // Threads inside a call (one entry per call, nested calls included).
  std::vector<std::thread::id> inside_;
};

}  // namespace orbisan
