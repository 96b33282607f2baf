// The camera's motion message stream (GET_CTRL_MSG=MD,3): a long-lived
// multipart answer whose parts carry the detector's level and threshold,
//
//   --motion\r\n
//   Content-Type: text/plain\r\n\r\nMD=1;level=35;threshold=20\r\n--motion\r\n
//   Content-Type: text/plain\r\n\r\nMD=1;level=35;threshold=20\r\n--motion\r\n ...
//
// one part per interval and channel, with faults on demand: every byte in a
// write of its own, a stream that goes silent, a dropped connection.
// Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/http_body_stream.h"

namespace strandline::sim {

class MotionStream {
 public:
  static constexpr int kDefaultThreshold = 20;

  explicit MotionStream(int channels);
  ~MotionStream();
  MotionStream(const MotionStream&) = delete;
  MotionStream& operator=(const MotionStream&) = delete;

  // Motion on: the level stands above the threshold; off: below it.
  void SetMotion(bool on, int channel = 1);
  void SetLevels(int level, int threshold, int channel = 1);
  void SetInterval(std::chrono::milliseconds interval);  // 500 ms at first
  void SetByteChunks(bool on);                           // each byte alone, a few milliseconds apart
  void SetSilent(bool on);                               // open streams send nothing more
  void DropConnections();                                // open streams end abruptly now
  int OpenStreams() const;
  uint64_t PartsSent() const;

  // A new stream for one request; null for a channel the camera does not have.
  std::shared_ptr<HttpBodyStream> Open(int channel);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace strandline::sim
