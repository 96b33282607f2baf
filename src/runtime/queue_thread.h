#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// A thread that handles owned work items in arrival order. Items are deleted
// after handling, when dropped for space, and when the queue stops.
template <typename T>
class CQueueThread : public CBaseThread {
 public:
  explicit CQueueThread(IDebugMessage* owner = nullptr) : CBaseThread(owner) {}
  ~CQueueThread() override {
    JoinThread(5000);
    Clear();
  }

  virtual bool Start(const std::string& name) {
    itemEvent_.Reset();
    // Items accepted before the start are handled too, not left waiting for
    // the next AddItem.
    if (QueuedCount() != 0) itemEvent_.Set();
    return StartThread(name);
  }

  virtual bool Stop() {
    StopEvent().Set();
    Clear();
    return JoinThread(5000);
  }

  // Takes ownership of item. With maxItems non-zero the oldest items are
  // dropped until there is room for it.
  bool AddItem(T* item, uint32_t maxItems) {
    if (IsStopping()) {
      delete item;
      return false;
    }
    {
      CAutoLock guard(queueLock_);
      if (maxItems != 0) {
        while (!queue_.empty() && queue_.size() >= maxItems) {
          delete queue_.front();
          queue_.pop_front();
        }
      }
      queue_.push_back(item);
    }
    itemEvent_.Set();
    return true;
  }

  // Takes ownership of item; queued items that it replaces (replaces(queued)
  // true) are dropped first, the others stay.
  template <typename Replaces>
  bool AddItemReplacing(T* item, Replaces replaces) {
    if (IsStopping()) {
      delete item;
      return false;
    }
    {
      CAutoLock guard(queueLock_);
      for (auto it = queue_.begin(); it != queue_.end();) {
        if (replaces(*it)) {
          delete *it;
          it = queue_.erase(it);
        } else {
          ++it;
        }
      }
      queue_.push_back(item);
    }
    itemEvent_.Set();
    return true;
  }
  size_t QueuedCount() {
    CAutoLock guard(queueLock_);
    return queue_.size();
  }

 protected:
  virtual void HandleItem(T* item) = 0;

  uint32_t ThreadFunction() override {
    CEvent* events[2] = {&StopEvent(), &itemEvent_};
    for (;;) {
      if (IsStopping()) return 0;
      if (CEvent::WaitForAny(events, 2, 1000) != 1) continue;
      for (;;) {
        T* item = nullptr;
        {
          CAutoLock guard(queueLock_);
          if (queue_.empty()) break;
          item = queue_.front();
          queue_.pop_front();
        }
        if (IsStopping()) {
          delete item;
          break;
        }
        try {
          HandleItem(item);
        } catch (...) {
          // A failing item never ends the queue.
        }
        delete item;
      }
    }
  }

 private:
  void Clear() {
    CAutoLock guard(queueLock_);
    for (T* item : queue_) delete item;
    queue_.clear();
  }

  CEvent itemEvent_{false};
  CRecursiveLock queueLock_;
  std::deque<T*> queue_;
};

}  // namespace orbisan
