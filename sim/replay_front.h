// The RTSP side of the replay mode: in front of an input's GStreamer server,
// it passes every request on (descriptions, authentication, sessions and
// keep-alives stay the server's) but takes the video stream of a unicast
// session for the replay sender: SETUP answers get the sender's ports and
// SSRC, and PLAY and PAUSE of such a session are answered here, so the
// server never streams it. Anything else (multicast, playback, a session
// with more than the video stream) is streamed by the server as before.
// One thread serves every connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "sim/replay_sender.h"

namespace strandline::sim {

class ReplayFront {
 public:
  struct Config {
    uint16_t port = 0;  // 0 = a free loopback port
    uint16_t upstream_port = 0;
    std::shared_ptr<ReplaySender> sender;
  };

  ReplayFront() = default;
  ~ReplayFront();
  ReplayFront(const ReplayFront&) = delete;
  ReplayFront& operator=(const ReplayFront&) = delete;

  bool Start(const Config& config, std::string* error);
  void Stop();
  uint16_t Port() const { return port_; }

 private:
  struct Connection;
  void Run();

  Config config_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace strandline::sim
