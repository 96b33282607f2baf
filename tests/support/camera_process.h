#pragma once
// A simulated camera in a child process (tests/integration/helpers), asked
// one line at a time over pipes: for tests that measure the driver's own
// process while the camera keeps running.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace orbisan::test {

class CameraProcess {
 public:
  CameraProcess(const std::string& program, const std::string& model) {
    ::signal(SIGPIPE, SIG_IGN);  // a camera that died is an answer, not the test's end
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) return;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
      ::close(toChild[0]), ::close(toChild[1]);
      return;
    }
    std::vector<std::string> args{program, model};
    std::vector<char*> argv;  // made before the fork: the child of a threaded test only calls the system
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(toChild[0], STDIN_FILENO);
      ::dup2(fromChild[1], STDOUT_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    std::istringstream ports(Ask("", std::chrono::seconds(30)));
    std::string ok;
    ports >> ok >> http_ >> rtsp_;
    if (ok != "ok") http_ = rtsp_ = 0;
  }
  ~CameraProcess() {
    if (in_ >= 0) ::close(in_);  // the camera stops at the end of its input
    if (pid_ > 0) {
      for (int i = 0; i < 200 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) ::usleep(50000);
      if (::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  CameraProcess(const CameraProcess&) = delete;
  CameraProcess& operator=(const CameraProcess&) = delete;

  // 0 when the camera did not start.
  uint16_t HttpPort() const { return http_; }
  uint16_t RtspPort() const { return rtsp_; }

  // A command and its argument (see the helper); its answer after "ok", or
  // "error ..." when the camera did not answer in time.
  std::string Ask(const std::string& command, std::chrono::milliseconds limit = std::chrono::seconds(90)) {
    if (!command.empty()) {
      const std::string line = command + "\n";
      if (::write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "error write";
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (const size_t newline = buffer_.find('\n'); newline != std::string::npos) {
        std::string answer = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return answer;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd ready{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return "error time-out";
      char chunk[256];
      const ssize_t got = ::read(out_, chunk, sizeof chunk);
      if (got <= 0) return "error camera ended";
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }
  bool Do(const std::string& command) { return Ask(command).rfind("ok", 0) == 0; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  uint16_t http_ = 0;
  uint16_t rtsp_ = 0;
};

}  // namespace orbisan::test
