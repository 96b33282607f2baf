#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace orbisan {

// The channels a host audio object keeps open, by host channel id: at most a
// set number at once, each started when opened and stopped when closed.
// Channel threads report their states to the host under their own locks,
// and the host may call back from there: so no channel is started, stopped
// or asked anything under the set's lock. An open or close of an id waits
// for one of the same id under way, so a close never races an open.
template <typename Channel>
class CAudioChannelSet {
 public:
  explicit CAudioChannelSet(uint32_t maxChannels) : maxChannels_(maxChannels) {}
  ~CAudioChannelSet() {
    std::map<uint32_t, std::shared_ptr<Channel>> channels;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return busy_.empty(); });
      channels.swap(channels_);
    }
    for (auto& [id, channel] : channels) {
      channel->Stop();
      channel.reset();
    }
  }
  CAudioChannelSet(const CAudioChannelSet&) = delete;
  CAudioChannelSet& operator=(const CAudioChannelSet&) = delete;

  uint32_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint32_t>(channels_.size());
  }

  // An id already open counts as opened; create() gives a new channel or null.
  template <typename Create>
  bool Open(uint32_t channelId, Create create) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return busy_.count(channelId) == 0; });
      if (channels_.count(channelId) != 0) return true;
      if (channels_.size() + opening_ >= maxChannels_) return false;
      busy_.insert(channelId);
      ++opening_;
    }
    Channel* channel = create();
    if (channel != nullptr && !channel->Start()) {
      channel->Stop();
      delete channel;
      channel = nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (channel != nullptr) channels_[channelId].reset(channel);
    --opening_;
    busy_.erase(channelId);
    changed_.notify_all();
    return channel != nullptr;
  }

  bool Close(uint32_t channelId) {
    std::shared_ptr<Channel> channel;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return busy_.count(channelId) == 0; });
      auto it = channels_.find(channelId);
      if (it == channels_.end()) return false;
      channel = std::move(it->second);
      channels_.erase(it);
      busy_.insert(channelId);
    }
    const bool stopped = channel->Stop();
    // Deleted here, or by a host call still using it (the channel has stopped).
    channel.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    busy_.erase(channelId);
    changed_.notify_all();
    return stopped;
  }

  // Runs use(channel) outside the lock, the channel kept alive meanwhile;
  // fallback when the id is not open.
  template <typename Result, typename Use>
  Result With(uint32_t channelId, Result fallback, Use use) {
    std::shared_ptr<Channel> channel;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = channels_.find(channelId);
      if (it == channels_.end()) return fallback;
      channel = it->second;
    }
    return use(channel.get());
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint32_t, std::shared_ptr<Channel>> channels_;
  std::set<uint32_t> busy_;  // ids being opened or closed
  uint32_t opening_ = 0;
  uint32_t maxChannels_;
};

}  // namespace orbisan
