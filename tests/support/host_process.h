#pragma once
// The reference host (`strandline COMMAND ...`) in a child process with its
// standard output and error in files, for end-to-end tests.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orbisan::test {

class HostProcess {
 public:
  // args start with the command ("record"); env entries are set (or, with an
  // empty value, removed) in the child only.
  explicit HostProcess(std::vector<std::string> args, std::vector<std::pair<std::string, std::string>> env = {}) {
    static int serial = 0;
    const std::string base =
        std::string(STRANDLINE_BUILD_DIR) + "/host-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    args.insert(args.begin(), std::string(STRANDLINE_BUILD_DIR) + "/bin/strandline");
    pid_ = ::fork();
    if (pid_ == 0) {
      for (const auto& [name, value] : env) {
        if (value.empty()) {
          ::unsetenv(name.c_str());
        } else {
          ::setenv(name.c_str(), value.c_str(), 1);
        }
      }
      const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~HostProcess() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  void Signal(int signal) { ::kill(pid_, signal); }
  // Exit status, or -1 when the process has not ended within the limit.
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (status_ < 0 && std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    return status_;
  }
  std::string Out() const { return Read(outPath_); }
  std::string Err() const { return Read(errPath_); }

 private:
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  pid_t pid_ = -1;
  int status_ = -1;
  std::string outPath_;
  std::string errPath_;
};

}  // namespace orbisan::test
