#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_frames.h"
#include "host/stream_health.h"

namespace strandline::host {

// What the host knows of one recorded stream at one moment: the driver's
// figures and its own.
struct StreamSnapshot {
  std::string device;  // address:port
  uint32_t input = 0;
  uint32_t kind = 0;    // 0 rec, 1 live, 2 remote
  uint32_t driver = 1;  // driver object, 1 to --streams
  uint32_t state = 2;   // 0 streaming, 1 connecting, 2 no signal
  bool haveHealth = false;
  StreamHealth health;
  StreamStats host;
  uint64_t gaps = 0;
  double gapSeconds = 0;
};

const char* StreamKindText(uint32_t kind);

// The Prometheus text exposition of the streams: one series per stream.
std::string RenderMetrics(const std::vector<StreamSnapshot>& streams);

// One status line: per stream, or one total for several streams.
std::string StatusLine(const std::vector<StreamSnapshot>& streams);

}  // namespace strandline::host
