#include <algorithm>
#include <cstdio>

#include "host/stream_snapshot.h"

namespace strandline::host {

namespace {

const char* StateText(uint32_t state) {
  switch (state) {
    case 0:
      return "streaming";
    case 1:
      return "connecting";
    default:
      return "no signal";
  }
}

std::string Jitter(const std::optional<double>& ms) {
  if (!ms) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", *ms);
  return text;
}

}  // namespace

std::string StatusLine(const std::vector<StreamSnapshot>& streams) {
  char text[256];
  if (streams.size() == 1) {
    const StreamSnapshot& s = streams[0];
    const StreamHealth& h = s.health;
    std::snprintf(text, sizeof text, "%s  frames %llu  fps %.1f  kbit/s %.0f  lost %llu  jitter %s", StateText(s.state),
                  static_cast<unsigned long long>(s.host.frames), h.fps, h.kbps,
                  static_cast<unsigned long long>(h.rtpLost), Jitter(h.jitterMs).c_str());
    return text;
  }
  // Several streams: totals, the number streaming, and the worst jitter.
  uint64_t frames = 0, lost = 0, streaming = 0;
  double fps = 0, kbps = 0;
  std::optional<double> jitter;
  for (const StreamSnapshot& s : streams) {
    frames += s.host.frames;
    lost += s.health.rtpLost;
    streaming += s.state == 0;
    fps += s.health.fps;
    kbps += s.health.kbps;
    if (s.health.jitterMs) jitter = std::max(jitter.value_or(0), *s.health.jitterMs);
  }
  std::snprintf(text, sizeof text,
                "%zu streams, %llu streaming  frames %llu  fps %.1f  kbit/s %.0f  lost %llu  jitter max %s",
                streams.size(), static_cast<unsigned long long>(streaming), static_cast<unsigned long long>(frames),
                fps, kbps, static_cast<unsigned long long>(lost), Jitter(jitter).c_str());
  return text;
}

}  // namespace strandline::host
