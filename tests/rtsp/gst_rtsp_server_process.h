#pragma once

// The GStreamer RTSP test server (server/rtsp_test_server.cpp) in a child
// process, stopped with the test; port() is 0 when it did not start.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/host_process.h"
#include "support/wait_until.h"

namespace orbisan::test {

class GstRtspServerProcess {
 public:
  // GStreamer's libraries are not built with the sanitizers of the test
  // program; the child is not what is being checked.
  GstRtspServerProcess(const std::string& program, const std::vector<std::string>& args)
      : process_(args,
                 {{"TSAN_OPTIONS", "report_bugs=0 exitcode=0"},
                  {"ASAN_OPTIONS", "detect_leaks=0"},
                  {"UBSAN_OPTIONS", "halt_on_error=0"}},
                 program) {
    unsigned port = 0;
    WaitUntil(
        [&] {
          return std::sscanf(process_.Out().c_str(), "PORT %u", &port) == 1 ||
                 process_.Wait(std::chrono::milliseconds(1)) >= 0;
        },
        std::chrono::seconds(30));
    port_ = static_cast<uint16_t>(port);
  }

  uint16_t port() const { return port_; }

 private:
  HostProcess process_;
  uint16_t port_ = 0;
};

}  // namespace orbisan::test
