#pragma once
// A simulated camera in a child process (tests/integration/helpers), asked
// one line at a time on its input: for tests that measure the driver's own
// process while the camera keeps running.
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>

#include "support/host_process.h"
#include "support/wait_until.h"

namespace orbisan::test {

class CameraProcess {
 public:
  CameraProcess(const std::string& program, const std::string& model) : process_({model}, {}, program, true) {
    ::signal(SIGPIPE, SIG_IGN);  // a camera that died is an answer, not the test's end
    std::istringstream ports(Ask("", std::chrono::seconds(30)));
    std::string ok;
    ports >> ok >> http_ >> rtsp_;
    if (ok != "ok") http_ = rtsp_ = 0;
  }
  // The camera stops at the end of its input; what has not ended by then is killed.
  ~CameraProcess() {
    process_.CloseInput();
    process_.Wait(std::chrono::seconds(10));
  }

  // 0 when the camera did not start.
  uint16_t HttpPort() const { return http_; }
  uint16_t RtspPort() const { return rtsp_; }

  // A command and its argument (see the helper); its answer after "ok", or
  // "error ..." when the camera did not answer in time or has ended.
  std::string Ask(const std::string& command, std::chrono::milliseconds limit = std::chrono::seconds(90)) {
    if (!command.empty() && !process_.Send(command + "\n")) return "error write";
    std::string out;
    size_t newline = std::string::npos;
    WaitUntil(
        [&] {
          out = process_.Out();
          newline = out.find('\n', read_);
          return newline != std::string::npos || process_.Wait(std::chrono::milliseconds(1)) >= 0;
        },
        limit);
    if (newline == std::string::npos) return "error no answer";
    const std::string answer = out.substr(read_, newline - read_);
    read_ = newline + 1;
    return answer;
  }
  bool Do(const std::string& command) { return Ask(command).rfind("ok", 0) == 0; }

 private:
  HostProcess process_;
  size_t read_ = 0;  // of the output, the answers taken
  uint16_t http_ = 0;
  uint16_t rtsp_ = 0;
};

}  // namespace orbisan::test
