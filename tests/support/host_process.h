#pragma once
// The reference host (`strandline COMMAND ...`), or another program, in a
// child process of its own process group with its standard output and error in
// files and /dev/null (or a pipe the test writes to) as its input, for
// end-to-end tests. Whatever is still running when the object goes, shell
// children included, is killed.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace orbisan::test {

class HostProcess {
 public:
  // args start with the command ("record"); env entries are set (or, with an
  // empty value, removed) in the child only. Another program than the host
  // runs with its own path (or a name searched in PATH) in `program`.
  explicit HostProcess(std::vector<std::string> args, std::vector<std::pair<std::string, std::string>> env = {},
                       std::string program = "", bool pipedInput = false) {
    int input[2] = {-1, -1};
    if (pipedInput && ::pipe2(input, O_CLOEXEC) != 0) return;
    const std::string outPath = scratch_.File("out");
    const std::string errPath = scratch_.File("err");
    args.insert(args.begin(), program.empty() ? std::string(STRANDLINE_BUILD_DIR) + "/bin/strandline" : program);
    std::vector<char*> argv;  // made before the fork: the child of a threaded test only calls the system
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      for (const auto& [name, value] : env) {
        if (value.empty()) {
          ::unsetenv(name.c_str());
        } else {
          ::setenv(name.c_str(), value.c_str(), 1);
        }
      }
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(pipedInput ? input[0] : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    if (pipedInput) ::close(input[0]);
    input_ = input[1];
  }
  ~HostProcess() {
    CloseInput();
    if (pid_ > 0 && status_ < 0) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  void Signal(int signal) { ::kill(pid_, signal); }
  // With piped input: writes to it, or closes it (the child reads its end).
  bool Send(const std::string& text) {
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
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
  std::string Out() const { return scratch_.Read("out"); }
  std::string Err() const { return scratch_.Read("err"); }

 private:
  ScratchDir scratch_{"strandline_host"};
  pid_t pid_ = -1;
  int input_ = -1;
  int status_ = -1;
};

// The host's COMMAND for a camera on loopback at httpPort, logged in as
// admin/admin, then the words of `more` (none of them holds a blank; a later
// option overrides an earlier one): as arguments, and as a shell line.
inline std::vector<std::string> HostArgs(const std::string& command, uint16_t httpPort, const std::string& more = "") {
  std::istringstream words(command + " --address 127.0.0.1 --port " + std::to_string(httpPort) +
                           " --user admin --password admin " + more);
  std::vector<std::string> args;
  for (std::string word; words >> word;) args.push_back(word);
  return args;
}
inline std::string HostLine(const std::string& command, uint16_t httpPort, const std::string& more = "") {
  std::string line = std::string(STRANDLINE_BUILD_DIR) + "/bin/strandline";
  for (const std::string& word : HostArgs(command, httpPort, more)) line += " " + word;
  return line;
}

// The host's --config file for RTP over UDP or interleaved in the RTSP connection.
inline std::string TransportConfig(bool interleaved) {
  return interleaved ? "<Configuration><Default><RTPMode>RTPOVERRTSP</RTPMode></Default></Configuration>"
                     : "<Configuration/>";
}

}  // namespace orbisan::test
