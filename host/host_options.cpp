#include "host/host_options.h"

#include <cstdlib>

namespace strandline::host {

namespace {

bool ToUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::strtoull(text.c_str(), nullptr, 10);
  return value <= max;
}

bool ParseVersion(const std::string& text, std::array<uint16_t, 4>& out) {
  std::array<uint16_t, 4> words{0, 0, 0, 0};
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    uint64_t v;
    if (!ToUnsigned(part, 0xFFFF, v)) return false;
    words[static_cast<size_t>(i)] = static_cast<uint16_t>(v);
    if (dot == std::string::npos) {
      if (i < 1) return false;  // at least major.minor
      out = words;
      return true;
    }
    start = dot + 1;
  }
  return false;
}

}  // namespace

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto number = [&](uint64_t max, uint64_t& out) {
      std::string text;
      if (!value(text)) return false;
      if (!ToUnsigned(text, max, out)) {
        error = "option " + name + " needs a number, got \"" + text + "\"";
        return false;
      }
      return true;
    };
    std::string text;
    uint64_t n = 0;
    if (name == "--address") {
      if (!value(o.address)) return false;
    } else if (name == "--port") {
      if (!number(0xFFFF, n)) return false;
      o.port = static_cast<uint16_t>(n);
    } else if (name == "--user") {
      if (!value(o.user)) return false;
    } else if (name == "--password") {
      if (!value(o.password)) return false;
    } else if (name == "--model") {
      if (!value(o.model)) return false;
    } else if (name == "--channels") {
      if (!number(64, n)) return false;
      o.channels = static_cast<uint32_t>(n);
    } else if (name == "--inputs") {
      if (!number(1024, n)) return false;
      o.inputs = static_cast<uint32_t>(n);
    } else if (name == "--outputs") {
      if (!number(1024, n)) return false;
      o.outputs = static_cast<uint32_t>(n);
    } else if (name == "--param") {
      if (!value(text)) return false;
      const size_t eq = text.find('=');
      if (eq == std::string::npos || !ToUnsigned(text.substr(0, eq), 0xFFFFFFFF, n) || n == 0) {
        error = "--param needs INDEX=TEXT with INDEX >= 1, got \"" + text + "\"";
        return false;
      }
      o.params[static_cast<uint32_t>(n)] = text.substr(eq + 1);
    } else if (name == "--config") {
      if (!value(o.configFile)) return false;
    } else if (name == "--driver") {
      if (!value(o.driverPath)) return false;
    } else if (name == "--host-version") {
      if (!value(text)) return false;
      std::array<uint16_t, 4> v;
      if (!ParseVersion(text, v)) {
        error = "--host-version needs A.B[.C.D], got \"" + text + "\"";
        return false;
      }
      o.hostVersion = v;
    } else if (name == "--log-level") {
      if (!number(1000, n)) return false;
      o.logLevel = static_cast<int>(n);
    } else if (name == "--input") {
      if (!number(1023, n)) return false;
      o.input = static_cast<uint32_t>(n);
    } else if (name == "--stream") {
      if (!value(text)) return false;
      if (text == "rec") {
        o.streamKind = 0;
      } else if (text == "live") {
        o.streamKind = 1;
      } else if (text == "remote") {
        o.streamKind = 2;
      } else {
        error = "--stream is rec, live or remote";
        return false;
      }
    } else if (name == "--codec") {
      if (!value(text)) return false;
      if (text == "mjpeg") {
        o.codec = 1;
      } else if (text == "mpeg4") {
        o.codec = 2;
      } else if (text == "h264") {
        o.codec = 3;
      } else {
        error = "--codec is h264, mpeg4 or mjpeg";
        return false;
      }
    } else if (name == "--width") {
      if (!number(0xFFFF, n)) return false;
      o.width = static_cast<uint32_t>(n);
    } else if (name == "--height") {
      if (!number(0xFFFF, n)) return false;
      o.height = static_cast<uint32_t>(n);
    } else if (name == "--fps") {
      if (!number(0xFFF, n)) return false;
      o.fps = static_cast<uint32_t>(n);
    } else if (name == "--bitrate") {
      if (!number(0xFFFF, n)) return false;
      o.bitrate = static_cast<uint32_t>(n);
    } else if (name == "--out") {
      if (!value(o.out)) return false;
    } else if (name == "--index") {
      if (!value(o.index)) return false;
    } else if (name == "--duration") {
      if (!value(text)) return false;
      char* end = nullptr;
      o.durationSeconds = std::strtod(text.c_str(), &end);
      if (end == text.c_str() || *end != '\0' || !(o.durationSeconds > 0) || o.durationSeconds > 86400) {
        error = "--duration needs seconds > 0";
        return false;
      }
    } else if (name == "--streams") {
      if (!number(1024, n) || n == 0) {
        if (error.empty()) error = "--streams needs a number from 1";
        return false;
      }
      o.streams = static_cast<uint32_t>(n);
    } else if (name == "--audio") {
      if (!value(o.audio)) return false;
    } else if (name == "--audio-only") {
      o.audioOnly = true;
    } else if (name == "--edge") {
      o.edge = true;
    } else if (name == "--gaps") {
      if (!value(o.gaps)) return false;
    } else if (name == "--stats") {
      if (!value(text)) return false;
      char* end = nullptr;
      o.statsSeconds = std::strtod(text.c_str(), &end);
      if (end == text.c_str() || *end != '\0' || !(o.statsSeconds >= 0.1) || o.statsSeconds > 86400) {
        error = "--stats needs seconds >= 0.1";
        return false;
      }
    } else if (name == "--quiet") {
      o.quiet = true;
    } else if (name == "--metrics-port") {
      if (!number(0xFFFF, n)) return false;
      o.metricsPort = static_cast<int32_t>(n);
    } else if (name == "--metrics-address") {
      if (!value(o.metricsAddress)) return false;
    } else if (name == "--frames") {
      if (!number(100000000, n)) return false;
      o.frames = n;
    } else {
      error = "unknown option \"" + name + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace strandline::host
