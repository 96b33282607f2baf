// The camera's storage card: what the camera streamed, kept for a while.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace strandline::sim {

// Keeps the encoded frames of the camera's first stream with the times they
// were made at, the last `keep` of them and never more than max_bytes, while
// a card is mounted. Thread-safe.
class StorageCard {
 public:
  using Clock = std::chrono::system_clock;

  struct Frame {
    Clock::time_point time;
    GstBuffer* buffer;  // a reference of the card's own
  };

  // Frames from a point in time on, with the stream's caps; holds its own
  // references, so the card may drop the frames meanwhile.
  struct Recording {
    ~Recording();
    std::vector<Frame> frames;
    GstCaps* caps = nullptr;
  };

  StorageCard(bool mounted, std::chrono::seconds keep, size_t max_bytes = size_t{256} << 20);
  ~StorageCard();
  StorageCard(const StorageCard&) = delete;
  StorageCard& operator=(const StorageCard&) = delete;

  // Unmounting empties the card.
  void SetMounted(bool mounted);
  bool Mounted() const { return mounted_.load(); }
  // How much the card keeps from now on.
  void SetRetention(std::chrono::seconds keep) { keep_ = keep; }
  size_t FrameCount() const;

  // Records every frame that enters this payloader's sink pad. Of several
  // encoders running at once, the card keeps the one it heard first until it
  // has been silent for a second.
  void Tap(GstElement* payloader);
  void Record(GstBuffer* buffer, GstCaps* caps, Clock::time_point time, const void* source);

  // The frames from the first one at or after `from`; null when the card is
  // not mounted or holds nothing from then on.
  std::shared_ptr<const Recording> From(Clock::time_point from) const;

 private:
  void DropOldest();

  std::atomic<bool> mounted_;
  std::atomic<std::chrono::seconds> keep_;
  const size_t max_bytes_;
  mutable std::mutex mutex_;
  std::deque<Frame> frames_;
  size_t bytes_ = 0;
  GstCaps* caps_ = nullptr;
  const void* source_ = nullptr;
  Clock::time_point source_seen_{};
  // Shared with the pad probes, which may outlive the card.
  std::shared_ptr<StorageCard*> self_;
};

}  // namespace strandline::sim
