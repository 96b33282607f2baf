#pragma once

// Runs another program for a test with a time-out: the reference host, an
// independent decoder, a shell line. A hung child costs the test its bound,
// never the whole run.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace orbisan::test {

struct CommandResult {
  int exit_code = -1;  // -1 when it could not start, was killed or ran out of time
  std::string out;
  std::string err;
};

// argv[0] is searched in PATH; standard input is /dev/null.
inline CommandResult RunCommand(const std::vector<std::string>& argv,
                                std::chrono::milliseconds timeout = std::chrono::minutes(5)) {
  CommandResult result;
  int pipes[2][2];
  if (pipe2(pipes[0], O_CLOEXEC) != 0) return result;
  if (pipe2(pipes[1], O_CLOEXEC) != 0) {
    close(pipes[0][0]);
    close(pipes[0][1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipes[0][1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // Its own process group, so that a time-out also ends what a shell started.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipes[0][1]);
  close(pipes[1][1]);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool open[2] = {spawned == 0, spawned == 0};
  bool killed = false;
  while (open[0] || open[1]) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      kill(-pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd fds[2];
    for (int i = 0; i < 2; ++i) fds[i] = {open[i] ? pipes[i][0] : -1, POLLIN, 0};
    if (poll(fds, 2, static_cast<int>(left < 200 ? left : 200)) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (!open[i] || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(pipes[i][0], buffer, sizeof buffer);
      if (n <= 0) {
        open[i] = false;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  close(pipes[0][0]);
  close(pipes[1][0]);
  if (spawned != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
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
