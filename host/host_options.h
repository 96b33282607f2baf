#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace strandline::host {

// Device and stream options shared by the subcommands that open the driver.
struct HostOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 80;
  std::string user;
  std::string password;
  std::string model;
  uint32_t channels = 1;
  uint32_t inputs = 0;
  uint32_t outputs = 0;
  std::map<uint32_t, std::string> params;
  std::string configFile;
  std::string driverPath;
  std::optional<std::array<uint16_t, 4>> hostVersion;
  int logLevel = 3;
  // stream
  uint32_t input = 0;
  uint32_t streamKind = 0;
  uint32_t codec = 3;
  uint32_t width = 640;
  uint32_t height = 480;
  uint32_t fps = 25;
  uint32_t bitrate = 50;  // bit-rate selector 0-100; 0 would ask the camera for its lowest rate
  std::string out;
  std::string index;
  double durationSeconds = 10;
  uint64_t frames = 0;
  uint32_t streams = 1;      // driver objects recording at once (load tests)
  std::string audio;         // audio output file (".wav": with a mu-law WAV header)
  bool audioOnly = false;    // no video stream
  bool edge = false;         // fill gaps of the recording stream from the camera's storage
  std::string gaps;          // CSV of the holes in the recorded stream
  double statsSeconds = 0;   // status line interval on standard error; 0: 2 s on a terminal, else none
  bool quiet = false;        // no status line
  int32_t metricsPort = -1;  // serve /metrics there while recording; -1: not at all, 0: any free port
  std::string metricsAddress = "127.0.0.1";
};

// Parses argv[first..]; on error returns false with a one-line message.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& options, std::string& error);

}  // namespace strandline::host
