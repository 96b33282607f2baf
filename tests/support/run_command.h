#pragma once

// Runs another program for a test with a time-out: the reference host, an
// independent decoder, a shell line. A hung child costs the test its bound,
// never the whole run.

#include <chrono>
#include <sstream>
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
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) d.frames += !line.empty() && line[0] != '#';
  return d;
}

// How often needle occurs in text (a program's output, a log).
inline size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace orbisan::test
