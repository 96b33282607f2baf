#pragma once

// Runs another program for a test with a time-out: the reference host, an
// independent decoder, a shell line. A hung child costs the test its bound,
// never the whole run.

#include <chrono>
#include <string>
#include <vector>

#include "support/host_process.h"

namespace orbisan::test {

struct CommandResult {
  int exit_code = -1;  // -1 when it was killed or ran out of time; 127 when it could not start
  std::string out;
  std::string err;
};

// argv[0] is searched in PATH.
inline CommandResult RunCommand(const std::vector<std::string>& argv,
                                std::chrono::milliseconds timeout = std::chrono::minutes(5)) {
  HostProcess child({argv.begin() + 1, argv.end()}, {}, argv[0]);
  const int status = child.Wait(timeout);
  CommandResult result;
  if (status >= 0 && status < 1000) result.exit_code = status;
  result.out = child.Out();
  result.err = child.Err();
  return result;
}

// A shell line; output receives its standard output.
inline int RunShell(const std::string& command, std::string* output = nullptr) {
  CommandResult r = RunCommand({"sh", "-c", command});
  if (output != nullptr) *output = r.out;
  return r.exit_code;
}

// What an independent decoder (ffmpeg) makes of a file: everything it
// complained about, and the number of pictures it decoded.
struct DecodeResult {
  std::string errors;
  int frames = 0;
};

inline DecodeResult DecodeWithFfmpeg(const std::string& format, const std::string& file) {
  CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-f", format, "-i", file, "-f", "framecrc", "-"});
  DecodeResult d;
  d.errors = r.exit_code != 0 && r.err.empty() ? "ffmpeg failed" : r.err;
  for (size_t pos = 0; pos < r.out.size();) {
    size_t end = r.out.find('\n', pos);
    if (end == std::string::npos) end = r.out.size();
    if (end > pos && r.out[pos] != '#') ++d.frames;
    pos = end + 1;
  }
  return d;
}

}  // namespace orbisan::test
