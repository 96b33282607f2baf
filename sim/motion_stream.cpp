#include "sim/motion_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace strandline::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kBoundary = "motion";
constexpr auto kByteGap = std::chrono::milliseconds(4);

// No motion at first: the level below the threshold.
struct Levels {
  int level = MotionStream::kDefaultThreshold / 2;
  int threshold = MotionStream::kDefaultThreshold;
};

}  // namespace

struct MotionStream::Shared {
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::vector<Levels> channels;
  std::chrono::milliseconds interval{500};
  bool byte_chunks = false;
  bool silent = false;
  unsigned drop_generation = 0;
  int open = 0;
  uint64_t parts = 0;
};

namespace {

class Body : public HttpBodyStream {
 public:
  Body(std::shared_ptr<MotionStream::Shared> shared, int channel) : shared_(std::move(shared)), channel_(channel) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->open;
    drop_generation_ = shared_->drop_generation;
    pending_ = std::string("--") + kBoundary + "\r\n";
    next_part_ = Clock::now();
  }
  ~Body() override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    --shared_->open;
  }

  std::string ContentType() const override { return std::string("multipart/x-mixed-replace;boundary=") + kBoundary; }

  long Next(char* buffer, size_t max, std::chrono::milliseconds wait) override {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const auto deadline = Clock::now() + wait;
    for (;;) {
      if (shared_->drop_generation != drop_generation_) return kDrop;
      const auto now = Clock::now();
      if (!shared_->silent && now >= next_part_ && pending_.empty()) {
        const Levels& levels = shared_->channels[static_cast<size_t>(channel_ - 1)];
        pending_ += "Content-Type: text/plain\r\n\r\nMD=1;level=" + std::to_string(levels.level) +
                    ";threshold=" + std::to_string(levels.threshold) + "\r\n--" + kBoundary + "\r\n";
        next_part_ = now + shared_->interval;
        ++shared_->parts;
      }
      auto wake = shared_->silent ? deadline : std::min(deadline, next_part_);
      if (!pending_.empty() && !shared_->silent) {
        if (!shared_->byte_chunks) {
          const size_t count = std::min(max, pending_.size());
          std::memcpy(buffer, pending_.data(), count);
          pending_.erase(0, count);
          return static_cast<long>(count);
        }
        if (now >= next_byte_ && max > 0) {
          buffer[0] = pending_[0];
          pending_.erase(0, 1);
          next_byte_ = now + kByteGap;
          return 1;
        }
        wake = std::min(wake, next_byte_);
      }
      if (now >= deadline) return 0;
      shared_->changed.wait_until(lock, wake);
    }
  }

 private:
  std::shared_ptr<MotionStream::Shared> shared_;
  int channel_;
  unsigned drop_generation_;
  std::string pending_;
  Clock::time_point next_part_;
  Clock::time_point next_byte_{};
};

}  // namespace

MotionStream::MotionStream(int channels) : shared_(std::make_shared<Shared>()) {
  shared_->channels.resize(static_cast<size_t>(std::max(channels, 1)));
}

MotionStream::~MotionStream() = default;

void MotionStream::SetMotion(bool on, int channel) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (channel < 1 || channel > static_cast<int>(shared_->channels.size())) return;
  Levels& levels = shared_->channels[static_cast<size_t>(channel - 1)];
  levels.level = on ? levels.threshold + 15 : levels.threshold / 2;
}

void MotionStream::SetLevels(int level, int threshold, int channel) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (channel < 1 || channel > static_cast<int>(shared_->channels.size())) return;
  shared_->channels[static_cast<size_t>(channel - 1)] = Levels{level, threshold};
}

void MotionStream::SetInterval(std::chrono::milliseconds interval) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->interval = std::max(interval, std::chrono::milliseconds(1));
  }
  shared_->changed.notify_all();
}

void MotionStream::SetByteChunks(bool on) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->byte_chunks = on;
}

void MotionStream::SetSilent(bool on) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->silent = on;
  }
  shared_->changed.notify_all();
}

void MotionStream::DropConnections() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->drop_generation;
  }
  shared_->changed.notify_all();
}

int MotionStream::OpenStreams() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->open;
}

uint64_t MotionStream::PartsSent() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->parts;
}

std::shared_ptr<HttpBodyStream> MotionStream::Open(int channel) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (channel < 1 || channel > static_cast<int>(shared_->channels.size())) return nullptr;
  }
  return std::make_shared<Body>(shared_, channel);
}

}  // namespace strandline::sim
