// Sends a clip's prepared RTP packets to every playing session from one paced
// thread: each frame goes out whole at its time (a key frame as one burst),
// the sessions of a tick together (sendmmsg for UDP, writev for interleaved),
// each session with its own SSRC, sequence numbers and RTP time base, and an
// RTCP sender report every few seconds.
#pragma once

#include <netinet/in.h>
#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/replay_packets.h"

namespace strandline::sim {

// A client's RTSP connection, written by the RTSP side (answers) and by the
// sender (interleaved packets) in one order. Writes never block: what the
// socket does not take waits here. Owns the socket, so that it is closed
// only when neither side uses it any longer.
class ReplayLink {
 public:
  explicit ReplayLink(int fd) : fd_(fd) {}
  ~ReplayLink();
  ReplayLink(const ReplayLink&) = delete;
  ReplayLink& operator=(const ReplayLink&) = delete;

  int fd() const { return fd_; }
  bool Send(std::string_view data);
  // Sends the pieces in order. With droppable set, nothing is sent (and
  // false is returned) while more than a few frames still wait.
  bool SendPieces(const iovec* pieces, size_t count, bool droppable);
  void Flush();
  bool Waiting();
  bool Broken() const { return broken_.load(); }
  // Ends the connection for both sides; the socket closes with the last user.
  void Shutdown();

 private:
  bool FlushLocked();

  const int fd_;
  std::mutex mutex_;
  std::string waiting_;
  std::atomic<bool> broken_{false};
};

class ReplaySender {
 public:
  struct Session;
  struct Target {
    bool interleaved = false;
    uint8_t channel = 0;               // interleaved: RTP channel, RTCP on the next
    std::shared_ptr<ReplayLink> link;  // interleaved
    sockaddr_in rtp{};                 // UDP destinations
    sockaddr_in rtcp{};
  };
  struct Start {
    uint32_t ssrc;
    uint16_t seq;      // of the first packet
    uint32_t rtptime;  // of the first frame
  };

  ReplaySender(std::shared_ptr<const ReplayPackets> packets, std::shared_ptr<std::atomic<bool>> frozen);
  ~ReplaySender();
  ReplaySender(const ReplaySender&) = delete;
  ReplaySender& operator=(const ReplaySender&) = delete;

  // Binds the UDP port pair every session is sent from and starts the thread.
  bool Begin(std::string* error);
  void End();
  uint16_t RtpPort() const { return rtp_port_; }

  // A session set up to receive; it is sent nothing until played.
  std::shared_ptr<Session> Add(Target target);
  Start StartOf(const Session& session) const;
  // Playing starts at the clip's first key frame on the next tick.
  void Play(const std::shared_ptr<Session>& session, bool playing);
  void Remove(const std::shared_ptr<Session>& session);

 private:
  void Run();
  void Tick(std::chrono::steady_clock::time_point now);
  void SendUdp(const std::vector<Session*>& udp);
  void SendInterleaved(Session& session);
  void Report(Session& session, std::chrono::steady_clock::time_point now);
  uint32_t TimestampOf(const Session& session) const;

  const std::shared_ptr<const ReplayPackets> packets_;
  const std::shared_ptr<std::atomic<bool>> frozen_;
  int rtp_fd_ = -1;
  int rtcp_fd_ = -1;
  uint16_t rtp_port_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<std::shared_ptr<Session>> sessions_;
  std::thread thread_;
  // Reused from tick to tick.
  std::vector<Session*> playing_;
  std::vector<uint8_t> headers_;
  std::vector<iovec> pieces_;
};

}  // namespace strandline::sim
