// A thin RTSP relay in front of the simulated camera's GStreamer server that
// makes it behave like a quirky field camera: it rewrites the RTSP text both
// ways, answers some requests itself (redirects, refused or challenged
// keep-alives), sends the camera's own requests, and carries the video's RTP
// and RTCP (interleaved, or over a UDP port pair of its own) through
// RtpQuirkStream. Only made when a quirk is set.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/camera_quirks.h"

namespace strandline::sim {

class QuirkRelay {
 public:
  struct Config {
    uint16_t port = 0;  // 0 = a free loopback port
    uint16_t upstream_port = 0;
    QuirkSet quirks;
    std::string user;  // keepalive-401 checks the Digest answer with these
    std::string password;
  };

  QuirkRelay() = default;
  ~QuirkRelay();
  QuirkRelay(const QuirkRelay&) = delete;
  QuirkRelay& operator=(const QuirkRelay&) = delete;

  bool Start(const Config& config, std::string* error);
  void Stop();
  uint16_t Port() const { return port_; }

 private:
  class Connection;
  void AcceptLoop();

  Config config_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Worker> connections_;
};

}  // namespace strandline::sim
