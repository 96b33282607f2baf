#pragma once

// Starts the GStreamer RTSP test server (server/rtsp_test_server.cpp) as a
// child process and stops it again. The child ends by itself when this side
// closes its standard input, so it never outlives the test.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace orbisan::test {

class GstRtspServerProcess {
 public:
  GstRtspServerProcess(const std::string& program, const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // GStreamer's libraries are not built with the sanitizers of the test
    // program; the child is not what is being checked.
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);
    envText.emplace_back("TSAN_OPTIONS=report_bugs=0 exitcode=0");
    envText.emplace_back("ASAN_OPTIONS=detect_leaks=0");
    envText.emplace_back("UBSAN_OPTIONS=halt_on_error=0");
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    FILE* output = fdopen(out[0], "r");
    char line[128] = {};
    if (pid_ > 0 && output != nullptr && fgets(line, sizeof line, output) != nullptr) {
      unsigned port = 0;
      if (std::sscanf(line, "PORT %u", &port) == 1) port_ = static_cast<uint16_t>(port);
    }
    if (output != nullptr) fclose(output);
  }
  ~GstRtspServerProcess() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ <= 0) return;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  GstRtspServerProcess(const GstRtspServerProcess&) = delete;
  GstRtspServerProcess& operator=(const GstRtspServerProcess&) = delete;

  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  uint16_t port_ = 0;
};

}  // namespace orbisan::test
