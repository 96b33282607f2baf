// The reference host's record command as a user meets it: the reason in its
// "no frames" line, and how it ends on signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_camera.h"

using namespace std::chrono_literals;
using strandline::sim::SimulatedCamera;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// `strandline record` in a child process, its output in files.
class Record {
 public:
  explicit Record(std::vector<std::string> args) {
    const std::string base = std::string(STRANDLINE_BUILD_DIR) + "/record-test-" + std::to_string(::getpid());
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    args.insert(args.begin(), {std::string(STRANDLINE_BUILD_DIR) + "/bin/strandline", "record"});
    pid_ = ::fork();
    if (pid_ == 0) {
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
  ~Record() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
  }
  void Signal(int signal) { ::kill(pid_, signal); }
  // Exit status, or -1 when the process has not ended within the limit.
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (status_ < 0 && std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
      } else {
        std::this_thread::sleep_for(20ms);
      }
    }
    return status_;
  }
  std::string Out() const { return ReadFile(outPath_); }
  std::string Err() const { return ReadFile(errPath_); }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string outPath_;
  std::string errPath_;
};

struct Camera {
  Camera() {
    SimulatedCamera::Options options;
    camera = std::make_unique<SimulatedCamera>(options);
    started = camera->Start();
  }
  std::vector<std::string> Args(const std::string& password, const std::string& seconds) const {
    return {"--address",  "127.0.0.1",
            "--port",     std::to_string(camera->HttpPort()),
            "--user",     "admin",
            "--password", password,
            "--param",    "7=" + std::to_string(camera->RtspPort()),
            "--duration", seconds,
            "--width",    "320",
            "--height",   "240"};
  }
  std::unique_ptr<SimulatedCamera> camera;
  bool started = false;
};

TEST(RecordCommand, NoFramesLineSaysWhy) {
  Camera sim;
  ASSERT_TRUE(sim.started);
  {
    Record record(sim.Args("wrong", "3"));
    ASSERT_EQ(record.Wait(30s), 1) << record.Err();
    const std::string err = record.Err();
    const size_t line = err.find("no frames arrived from 127.0.0.1:" + std::to_string(sim.camera->HttpPort()));
    ASSERT_NE(line, std::string::npos) << err;
    EXPECT_NE(err.find("s: the camera refused the user name or password over HTTP (401)", line), std::string::npos)
        << err;
  }
  sim.camera->SetRtspRefuseConnections(true);
  {
    Record record(sim.Args("admin", "3"));
    ASSERT_EQ(record.Wait(30s), 1) << record.Err();
    const std::string err = record.Err();
    const size_t line = err.find("no frames arrived");
    ASSERT_NE(line, std::string::npos) << err;
    EXPECT_NE(err.find("connection refused", line), std::string::npos) << err;
    EXPECT_NE(record.Out().find(" rtp_lost=0 frames_dropped=0 "), std::string::npos) << record.Out();
  }
}

TEST(RecordCommand, FirstSignalStopsCleanlyASecondEndsAtOnce) {
  Camera sim;
  ASSERT_TRUE(sim.started);
  {
    Record record(sim.Args("admin", "120"));
    for (int i = 0; i < 300 && sim.camera->RtspClientCount() == 0; ++i) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(2s);  // frames flow
    record.Signal(SIGTERM);
    ASSERT_EQ(record.Wait(25s), 0) << record.Err();
    EXPECT_NE(record.Out().find("frames="), std::string::npos);
    EXPECT_EQ(record.Err().find("ending at once"), std::string::npos) << record.Err();
  }
  {
    Record record(sim.Args("admin", "120"));
    for (int i = 0; i < 300 && sim.camera->RtspClientCount() == 0; ++i) std::this_thread::sleep_for(50ms);
    record.Signal(SIGINT);
    record.Signal(SIGINT);
    const int status = record.Wait(5s);
    ASSERT_NE(status, -1) << "a second signal ends the process at once";
    // The second signal may also come after the clean stop already ended.
    if (record.Err().find("interrupted again, ending at once") != std::string::npos) {
      EXPECT_EQ(status, 128 + SIGINT);
    } else {
      EXPECT_NE(record.Out().find("frames="), std::string::npos) << record.Err();
    }
  }
}

}  // namespace
