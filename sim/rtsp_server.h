// The camera's RTSP side: GStreamer's RTSP server on its own main loop thread.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/camera_quirks.h"
#include "sim/replay_clip.h"
#include "sim/rtsp_mount.h"
#include "sim/storage_card.h"
#include "sim/stream_settings.h"

namespace strandline::sim {

class ReplaySender;

// kDigestSha256 offers Digest SHA-256 (qop=auth) first and MD5 Digest after it.
enum class RtspAuth { kNone, kBasic, kDigest, kDigestSha256 };

enum class DescribeFault {
  kNone,
  kStatus500,  // DESCRIBE answers "500 Internal Server Error"
  kNoAnswer,   // DESCRIBE gets no answer; the connection stays open
  // The answer to DESCRIBE, and every later one on that connection, goes out a
  // byte at a time, the trickle interval apart (interleaved data is dropped).
  kTrickle,
  // The answer to DESCRIBE claims "Content-Length: 4000000000"; filler follows
  // at full speed for as long as the client reads. Nothing else is answered.
  kHugeContentLength,
};

// One GstRTSPServer per video input (inputs of a video server each have their
// own port), each with the paths "/", "/track1".."/track3" and "/multicast".
class RtspServer {
 public:
  struct Config {
    std::string bind_address = "127.0.0.1";
    std::vector<uint16_t> ports{0};  // one per input; 0 = any free port
    // True for a video server: input k streams channel k on every path. False
    // for a camera: "/track2" and "/track3" stream channels 2 and 3.
    bool one_channel_per_input = false;
    RtspAuth auth = RtspAuth::kNone;
    std::string user;
    std::string password;
    RtspMount::SettingsSource settings;
    std::shared_ptr<const ReplayClip> clip;  // when set, every path loops this clip
    // With an H.264 clip: its packets, prepared once, go to every unicast
    // session from one paced sender (replay_front.h); not with quirks.
    bool replay = false;
    std::string multicast_group = "239.255.42.42";
    uint16_t multicast_port = 0;  // even; input k uses port + 2 (k - 1)
    bool with_clock = false;
    // Records the first input's first stream and serves "/playback/..." when set.
    std::shared_ptr<StorageCard> card;
    // Field-camera misbehaviours; with any set, a QuirkRelay in front of each
    // input's server takes its port.
    QuirkSet quirks;
  };

  RtspServer();
  ~RtspServer();
  RtspServer(const RtspServer&) = delete;
  RtspServer& operator=(const RtspServer&) = delete;

  bool Start(const Config& config, std::string* error);
  // Closes every connection and encoder and ends the main loop thread.
  void Stop();
  bool IsRunning() const { return thread_.joinable(); }
  std::vector<uint16_t> Ports() const { return ports_; }
  // The first input's multicast port (picked at start when configured as 0).
  uint16_t MulticastPort() const { return config_.multicast_port; }

  // Faults. Refusing closes the listening sockets (connects fail) and keeps
  // running sessions; accepting opens them again on the same ports.
  void SetRefuseConnections(bool refuse);
  void SetDescribeFault(DescribeFault fault);
  // Answers every request (OPTIONS and TEARDOWN too) with this status, as a
  // busy camera answers 503; 0 answers normally.
  void SetRequestStatus(int status);
  // The pause before each byte of a trickled answer.
  void SetTrickleInterval(std::chrono::milliseconds interval);
  // While frozen no RTP leaves any encoder; sessions stay up.
  void SetFrozen(bool frozen);
  // When the first input's encoder handed on its pictures (unicast paths).
  std::vector<long long> PictureTimes() const;
  // Closes every client connection (their sessions end with them).
  void DropConnections();
  // Ends the running streams with RTCP BYE; later sessions get new encoders.
  void SendBye();
  // Connected RTSP clients.
  size_t ClientCount();

  struct Faults;  // shared with the client connections' signal handlers

 private:
  struct Instance;
  struct ClientKeeper;
  void RunOnLoop(const std::function<void()>& work);
  bool SetUp(std::string* error);
  void TearDown();
  bool Listen(Instance& instance, std::string* error);

  Config config_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread thread_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::vector<uint16_t> ports_;
  std::shared_ptr<Faults> faults_;
  std::unique_ptr<ClientKeeper> keeper_;
  std::shared_ptr<ReplaySender> sender_;
  bool refusing_ = false;
};

}  // namespace strandline::sim
