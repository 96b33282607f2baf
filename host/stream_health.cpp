#include "host/stream_health.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace strandline::host {

namespace {

std::optional<double> Decimal(const std::map<std::string, std::string>& fields, const char* key) {
  const auto it = fields.find(key);
  if (it == fields.end() || it->second.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(it->second.c_str(), &end);
  if (end == it->second.c_str() || *end != '\0') return std::nullopt;
  return value;
}

}  // namespace

bool ParseStreamHealth(const std::string& text, StreamHealth& out) {
  unsigned long long lost = 0, dropped = 0;
  int prefix = 0;
  if (std::sscanf(text.c_str(), "rtp_lost=%llu frames_dropped=%llu failure=%n", &lost, &dropped, &prefix) != 2 ||
      prefix == 0) {
    return false;
  }
  out = StreamHealth{};
  out.rtpLost = lost;
  out.framesDropped = dropped;
  // The free text runs to the end, or (newer drivers) is repeated as the
  // last field with the figures in between.
  const std::string rest = text.substr(static_cast<size_t>(prefix));
  const size_t last = rest.rfind(" last_failure=");
  if (last == std::string::npos) {
    out.failure = rest;
    return true;
  }
  out.failure = rest.substr(last + 14);
  const std::string head = out.failure + " ";
  if (rest.compare(0, head.size(), head) != 0 || head.size() > last + 1) return true;
  std::map<std::string, std::string> fields;
  const std::string figures = rest.substr(head.size(), last + 1 - head.size());
  for (size_t at = 0; at < figures.size();) {
    size_t space = figures.find(' ', at);
    if (space == std::string::npos) space = figures.size();
    const std::string pair = figures.substr(at, space - at);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos) fields[pair.substr(0, eq)] = pair.substr(eq + 1);
    at = space + 1;
  }
  auto whole = [&](const char* key) -> std::optional<double> { return Decimal(fields, key); };
  out.frames = static_cast<uint64_t>(whole("frames").value_or(0));
  out.keyFrames = static_cast<uint64_t>(whole("key_frames").value_or(0));
  out.bytes = static_cast<uint64_t>(whole("bytes").value_or(0));
  out.fps = Decimal(fields, "fps").value_or(0);
  out.kbps = Decimal(fields, "kbps").value_or(0);
  if (auto v = whole("rtp_duplicates")) out.rtpDuplicates = static_cast<uint64_t>(*v);
  if (auto v = whole("rtp_reordered")) out.rtpReordered = static_cast<uint64_t>(*v);
  out.jitterMs = Decimal(fields, "jitter_ms");
  out.reconnects = static_cast<uint64_t>(whole("reconnects").value_or(0));
  out.signalLost = static_cast<uint64_t>(whole("signal_lost").value_or(0));
  out.secondsSinceLastFrame = Decimal(fields, "seconds_since_last_frame");
  if (auto v = whole("camera_clock_offset_ms")) out.cameraClockOffsetMs = static_cast<int64_t>(*v);
  return true;
}

bool QueryStreamHealth(orbisan::ipcapture::IIPVideoCapture* capture, uint32_t input, uint32_t kind, StreamHealth& out) {
  std::vector<uint16_t> buffer(2048, 0);
  const std::string name = "StreamStatistics:" + std::to_string(input) + ":" + std::to_string(kind);
  if (!capture->GetParameter(name.c_str(), buffer.data(), static_cast<uint32_t>(buffer.size() * 2))) return false;
  std::string text;
  for (size_t i = 0; i < buffer.size() && buffer[i] != 0; ++i) {
    text += static_cast<char>(buffer[i] < 0x80 ? buffer[i] : '?');
  }
  return ParseStreamHealth(text, out);
}

}  // namespace strandline::host
