#include "host/frame_spool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace strandline::host {

FrameSpool::~FrameSpool() {
  if (file_ != nullptr) std::fclose(file_);
}

bool FrameSpool::Open(std::string& error) {
  file_ = std::tmpfile();
  if (file_ == nullptr) error = std::string("cannot make a temporary file: ") + std::strerror(errno);
  return file_ != nullptr;
}

bool FrameSpool::Add(const uint8_t* data, SpooledFrame frame) {
  if (file_ == nullptr || std::fseek(file_, 0, SEEK_END) != 0) return false;
  if (std::fwrite(data, 1, frame.size, file_) != frame.size) return false;
  frame.offset = end_;
  end_ += frame.size;
  frames_.push_back(frame);
  return true;
}

bool FrameSpool::Replay(const std::function<bool(const std::vector<uint8_t>&, const SpooledFrame&)>& write,
                        uint64_t& skipped) {
  skipped = 0;
  if (file_ == nullptr) return frames_.empty();
  std::stable_sort(frames_.begin(), frames_.end(), [](const SpooledFrame& a, const SpooledFrame& b) {
    return a.timeMs != b.timeMs ? a.timeMs < b.timeMs : (!a.edge && b.edge);
  });
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < frames_.size(); ++i) {
    const SpooledFrame& frame = frames_[i];
    if (frame.edge && i > 0 && frames_[i - 1].timeMs == frame.timeMs) {
      ++skipped;
      continue;
    }
    bytes.resize(frame.size);
    if (std::fseek(file_, static_cast<long>(frame.offset), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, frame.size, file_) != frame.size || !write(bytes, frame)) {
      return false;
    }
  }
  return true;
}

}  // namespace strandline::host
