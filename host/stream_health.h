#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "strandline/video_capture.h"

namespace strandline::host {

// The driver's "StreamStatistics" text of one stream, read into numbers.
struct StreamHealth {
  uint64_t rtpLost = 0;
  uint64_t framesDropped = 0;
  std::string failure;
  uint64_t frames = 0;
  uint64_t keyFrames = 0;
  uint64_t bytes = 0;
  double fps = 0;
  double kbps = 0;
  std::optional<uint64_t> rtpDuplicates;
  std::optional<uint64_t> rtpReordered;
  std::optional<double> jitterMs;
  uint64_t reconnects = 0;
  uint64_t signalLost = 0;
  std::optional<double> secondsSinceLastFrame;
  std::optional<int64_t> cameraClockOffsetMs;
};

// Reads the text; false when it does not start with the original fields.
// Fields a driver does not give (an older one) stay at their defaults.
bool ParseStreamHealth(const std::string& text, StreamHealth& out);

// Asks the driver; false when the stream does not run.
bool QueryStreamHealth(orbisan::ipcapture::IIPVideoCapture* capture, uint32_t input, uint32_t kind, StreamHealth& out);

}  // namespace strandline::host
