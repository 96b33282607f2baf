#include <cstdio>
#include <functional>

#include "host/stream_snapshot.h"

namespace strandline::host {

namespace {

std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

struct Family {
  const char* name;
  const char* type;
  const char* help;
  // False leaves the stream out of this family (a figure not known).
  std::function<bool(const StreamSnapshot&, double&)> value;
};

}  // namespace

const char* StreamKindText(uint32_t kind) {
  switch (kind) {
    case 0:
      return "rec";
    case 1:
      return "live";
    case 2:
      return "remote";
    default:
      return "other";
  }
}

std::string RenderMetrics(const std::vector<StreamSnapshot>& streams) {
  auto known = [](auto get) {
    return [get](const StreamSnapshot& s, double& v) {
      v = static_cast<double>(get(s));
      return true;
    };
  };
  auto driver = [](auto get) {
    return [get](const StreamSnapshot& s, double& v) {
      if (!s.haveHealth) return false;
      v = static_cast<double>(get(s.health));
      return true;
    };
  };
  auto optional = [](auto get) {
    return [get](const StreamSnapshot& s, double& v) {
      if (!s.haveHealth) return false;
      const auto value = get(s.health);
      if (!value) return false;
      v = static_cast<double>(*value);
      return true;
    };
  };
  const Family families[] = {
      {"strandline_stream_state", "gauge", "Stream state: 0 streaming, 1 connecting, 2 no signal.",
       known([](const StreamSnapshot& s) { return s.state; })},
      {"strandline_frames_total", "counter", "Frames the driver delivered.",
       driver([](const StreamHealth& h) { return h.frames; })},
      {"strandline_key_frames_total", "counter", "Key frames the driver delivered.",
       driver([](const StreamHealth& h) { return h.keyFrames; })},
      {"strandline_received_bytes_total", "counter", "Bytes of the frames the driver delivered.",
       driver([](const StreamHealth& h) { return h.bytes; })},
      {"strandline_frame_rate", "gauge", "Frames per second over the last 10 s.",
       driver([](const StreamHealth& h) { return h.fps; })},
      {"strandline_bit_rate", "gauge", "Bits per second of the frames over the last 10 s.",
       driver([](const StreamHealth& h) { return h.kbps * 1000; })},
      {"strandline_rtp_lost_packets_total", "counter", "RTP packets missing from the sequence.",
       driver([](const StreamHealth& h) { return h.rtpLost; })},
      {"strandline_dropped_frames_total", "counter", "Frames begun but never delivered.",
       driver([](const StreamHealth& h) { return h.framesDropped; })},
      {"strandline_rtp_duplicate_packets_total", "counter", "RTP packets that came twice.",
       optional([](const StreamHealth& h) { return h.rtpDuplicates; })},
      {"strandline_rtp_reordered_packets_total", "counter", "RTP packets that came out of order.",
       optional([](const StreamHealth& h) { return h.rtpReordered; })},
      {"strandline_rtp_jitter_seconds", "gauge", "RFC 3550 interarrival jitter.", optional([](const StreamHealth& h) {
         return h.jitterMs ? std::optional<double>(*h.jitterMs / 1000) : std::nullopt;
       })},
      {"strandline_reconnects_total", "counter", "Times the stream came back after it had run.",
       driver([](const StreamHealth& h) { return h.reconnects; })},
      {"strandline_signal_lost_total", "counter", "Outages the driver reported.",
       driver([](const StreamHealth& h) { return h.signalLost; })},
      {"strandline_last_frame_age_seconds", "gauge", "Seconds since the last delivered frame.",
       optional([](const StreamHealth& h) { return h.secondsSinceLastFrame; })},
      {"strandline_camera_clock_offset_seconds", "gauge", "Camera sender-report clock minus the host clock.",
       optional([](const StreamHealth& h) {
         return h.cameraClockOffsetMs ? std::optional<double>(static_cast<double>(*h.cameraClockOffsetMs) / 1000)
                                      : std::nullopt;
       })},
      {"strandline_edge_frames_total", "counter", "Frames played back from the camera's storage.",
       known([](const StreamSnapshot& s) { return s.host.edgeFrames; })},
      {"strandline_gaps_total", "counter", "Holes of more than 1 s in the live video.",
       known([](const StreamSnapshot& s) { return s.gaps; })},
      {"strandline_gap_seconds_total", "counter", "Seconds of those holes.",
       known([](const StreamSnapshot& s) { return s.gapSeconds; })},
  };
  std::string text;
  for (const Family& family : families) {
    std::string series;
    for (const StreamSnapshot& s : streams) {
      double value = 0;
      if (!family.value(s, value)) continue;
      series += std::string(family.name) + "{device=\"" + Escape(s.device) + "\",input=\"" + std::to_string(s.input) +
                "\",stream=\"" + StreamKindText(s.kind) + "\",driver=\"" + std::to_string(s.driver) + "\"} " +
                Number(value) + "\n";
    }
    text += std::string("# HELP ") + family.name + " " + family.help + "\n# TYPE " + family.name + " " + family.type +
            "\n" + series;
  }
  return text;
}

}  // namespace strandline::host
