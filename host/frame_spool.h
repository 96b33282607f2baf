#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace strandline::host {

// What the output files need of one frame besides its bytes.
struct SpooledFrame {
  int64_t timeMs = 0;  // capture time, milliseconds since the epoch
  uint32_t fourcc = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  bool edge = false;  // played back from the camera's storage
  uint64_t offset = 0;
  uint32_t size = 0;
};

// Holds a recording's frames in a temporary file while frames played back
// from the camera's storage arrive out of their time among the live ones, and
// hands them out in capture-time order at the end. Not thread-safe.
class FrameSpool {
 public:
  FrameSpool() = default;
  ~FrameSpool();
  FrameSpool(const FrameSpool&) = delete;
  FrameSpool& operator=(const FrameSpool&) = delete;

  bool Open(std::string& error);
  bool Add(const uint8_t* data, SpooledFrame frame);
  // Every frame in capture-time order, live before played-back ones of the
  // same time; a played-back frame whose time a live frame already has is
  // left out (its count is returned in skipped), as is a second one of a time. False when a read failed or
  // write refused a frame.
  bool Replay(const std::function<bool(const std::vector<uint8_t>&, const SpooledFrame&)>& write, uint64_t& skipped);

 private:
  std::FILE* file_ = nullptr;
  uint64_t end_ = 0;
  std::vector<SpooledFrame> frames_;
};

}  // namespace strandline::host
