#pragma once

#include <cstdint>
#include <map>

#include "runtime/recursive_lock.h"

namespace orbisan {

// The channels a host audio object keeps open, by host channel id: at most a
// set number at once, each started when opened and stopped when closed. The
// lock is held across a channel's start and stop, so a close never races an
// open of the same id.
template <typename Channel>
class CAudioChannelSet {
 public:
  explicit CAudioChannelSet(uint32_t maxChannels) : maxChannels_(maxChannels) {}
  ~CAudioChannelSet() {
    CAutoLock guard(lock_);
    for (auto& [id, channel] : channels_) {
      channel->Stop();
      delete channel;
    }
  }
  CAudioChannelSet(const CAudioChannelSet&) = delete;
  CAudioChannelSet& operator=(const CAudioChannelSet&) = delete;

  uint32_t Count() {
    CAutoLock guard(lock_);
    return static_cast<uint32_t>(channels_.size());
  }

  // An id already open counts as opened; create() gives a new channel or null.
  template <typename Create>
  bool Open(uint32_t channelId, Create create) {
    CAutoLock guard(lock_);
    if (channels_.count(channelId) != 0) return true;
    if (channels_.size() >= maxChannels_) return false;
    Channel* channel = create();
    if (channel == nullptr) return false;
    if (!channel->Start()) {
      channel->Stop();
      delete channel;
      return false;
    }
    channels_[channelId] = channel;
    return true;
  }

  bool Close(uint32_t channelId) {
    CAutoLock guard(lock_);
    auto it = channels_.find(channelId);
    if (it == channels_.end()) return false;
    Channel* channel = it->second;
    channels_.erase(it);
    const bool stopped = channel->Stop();
    delete channel;
    return stopped;
  }

  // Runs use(channel) under the lock; fallback when the id is not open.
  template <typename Result, typename Use>
  Result With(uint32_t channelId, Result fallback, Use use) {
    CAutoLock guard(lock_);
    auto it = channels_.find(channelId);
    return it == channels_.end() ? fallback : use(it->second);
  }

 private:
  CRecursiveLock lock_;
  std::map<uint32_t, Channel*> channels_;
  uint32_t maxChannels_;
};

}  // namespace orbisan
