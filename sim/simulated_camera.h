// A simulated IP camera for the demo and the integration tests.
//
// It answers the camera family's CGI interface over HTTP (libmicrohttpd) and
// streams real encoded video over RTSP (GStreamer's RTSP server), on loopback.
//
//   strandline::sim::SimulatedCamera::Options options;
//   options.model = "TCM5311";            // Production ID, see Models()
//   strandline::sim::SimulatedCamera camera(options);
//   std::string error;
//   if (!camera.Start(&error)) ...;        // free loopback ports by default
//   camera.HttpPort(); camera.RtspPort();  // where it listens
//   camera.RtspUrl("/track2");             // "rtsp://127.0.0.1:<port>/track2"
//   camera.CgiRequests();                  // what a client asked, in order
//   camera.SetStreamFrozen(true);          // fault injection
//   camera.SetRtspRequestStatus(503);      // a busy camera
//   camera.SetHttpFault(HttpFault::kTrickle);  // a byte every 50 ms
//   camera.Stop();                         // also done by the destructor
//
// HTTP: GET /cgi-bin/{system,encoder,mpeg4,update}?USER=u&PWD=p&ITEM[&ITEM...]
// Items: "NAME" asks (answer "NAME='value'"), "NAME=VALUE" changes (answer
// "OK: NAME=VALUE"), anything unknown or refused answers a line with "ERROR".
// SYSTEM_INFO answers "Name = value" lines, CONFIG_GET dumps the configuration,
// SAVE_REBOOT restarts the camera, CHANNEL=n addresses input or stream n for
// the items after it. A wrong login gives 401; with http_auth other than kNone
// the client must also pass that HTTP authentication.
//
// RTSP: paths "/" (first stream), "/track1".."/track3" (the streams of a
// multi-stream camera, with CHANNEL=1..3 settings), "/multicast" (the first
// stream on a multicast group). A video server (several inputs) has one RTSP
// port per input, each serving that input's settings on every path. RTP over
// UDP, TCP interleaved or multicast; H.264, MPEG-4 or MJPEG encoded live from a
// moving test picture with the codec, size, frame rate and bit rate that the
// channel's settings hold when the session starts. Sessions started with the
// same settings share one encoder.
//
// Storage card (models with a card slot): the first stream as encoded is kept
// for storage_minutes; DISK_STATE answers MOUNT or NONE, and
// "/playback/datetime=YYYY.MM.DD.hh.mm.ss" (UTC) plays the card from that
// second on at the recorded pace. SetNetworkOutage(true) refuses and drops RTSP
// while the card keeps recording.
//
// Every member function is thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/dio_register.h"
#include "sim/http_server.h"
#include "sim/motion_stream.h"
#include "sim/pelco_d_dome.h"
#include "sim/ptz_head.h"
#include "sim/rtsp_server.h"
#include "sim/stream_settings.h"

namespace strandline::sim {

class CameraClock;
class CgiHandler;
class SettingsTable;
class ReplayClip;
struct CameraModel;

// One HTTP request the camera received, its target exactly as sent.
struct CgiRequest {
  std::string path;   // "/cgi-bin/encoder"
  std::string query;  // text after the first "?", "" when none
  int status = 0;     // HTTP status it was answered with (401 for refused logins, 0 for none)
};

class SimulatedCamera {
 public:
  struct Options {
    std::string model = "TCM5311";  // Production ID; see Models()
    std::string user = "admin";
    std::string password = "admin";
    HttpAuth http_auth = HttpAuth::kNone;
    RtspAuth rtsp_auth = RtspAuth::kNone;
    bool https = false;      // the HTTP port speaks TLS only (self-signed certificate)
    uint16_t http_port = 0;  // 0 = a free port
    // 0 = free ports. A video server's input k listens on rtsp_port + k - 1.
    uint16_t rtsp_port = 0;
    std::chrono::milliseconds reboot_duration{3000};
    // When set, every RTSP path loops this pre-encoded clip (H.264 Annex B,
    // MPEG-4 elementary stream or concatenated JPEG; no B-frames) instead of
    // encoding live; the encoder settings then only affect the CGI answers.
    std::string source_file;
    // With an H.264 source_file: the clip is cut into RTP packets once and
    // one paced sender sends them to every unicast session (hundreds of HD
    // streams); multicast and playback stay live. Not with quirks.
    bool replay = false;
    std::string multicast_group = "239.255.42.42";
    uint16_t multicast_port = 0;  // 0 = a free even port (input k adds 2 (k - 1))
    // Running time drawn over the live picture. Off by default: the text
    // renderer pulls in font libraries that keep process-lifetime allocations.
    bool clock_overlay = false;
    // The camera's clock starts this far off the host's (DATE_CONFIG sets it).
    std::chrono::seconds clock_offset{0};
    // Told one line per HTTP request ("<status> <path>?<query>"), when set.
    // Called on the HTTP server's thread; it must not call back into the camera.
    std::function<void(const std::string&)> log;
    // Minutes of video the storage card keeps (models with a card slot).
    int storage_minutes = 10;
    // Misbehaviours of field cameras (camera_quirks.h); none by default.
    QuirkSet quirks;
  };

  SimulatedCamera();  // default Options
  explicit SimulatedCamera(Options options);
  ~SimulatedCamera();
  SimulatedCamera(const SimulatedCamera&) = delete;
  SimulatedCamera& operator=(const SimulatedCamera&) = delete;

  // Starts HTTP and RTSP. False with a reason for an unknown model, a busy
  // port or an unreadable clip. Starting a running camera restarts it.
  bool Start(std::string* error = nullptr);
  // Releases every thread, socket and encoder; returns once all are gone.
  void Stop();
  bool IsRunning() const;

  uint16_t HttpPort() const;
  uint16_t RtspPort(int input = 1) const;
  std::vector<uint16_t> RtspPorts() const;
  std::uint16_t MulticastPort(int input = 1) const;
  std::string HttpUrl() const;  // "http://127.0.0.1:<port>" (https:// in HTTPS mode)
  // "rtsp://127.0.0.1:<port><path>"; path must start with "/".
  std::string RtspUrl(std::string_view path = "/", int input = 1) const;
  const CameraModel& Model() const;

  // Every HTTP request received since start or the last clear, oldest first.
  std::vector<CgiRequest> CgiRequests() const;
  void ClearCgiRequests();

  // Settings as the CGI sees them; channel is the CHANNEL selector (1-based).
  std::optional<std::string> GetSetting(const std::string& name, int channel = 1) const;
  // Changes a setting with the same checks as a CGI change; false when refused.
  bool SetSetting(const std::string& name, const std::string& value, int channel = 1);
  // What an RTSP session of this channel would stream now.
  StreamSettings CurrentStream(int channel = 1) const;
  // Where the PTZ head stands and what it does (PTZ models).
  PtzState Ptz() const;
  // PTZ commands wait for the release before they are answered.
  void HoldPtzCommands(bool hold);
  // The dome on a channel's serial port (Pelco-D models), 1-based channel.
  DomeState SerialDome(int channel = 1) const;

  // The camera's clock: how far it is off the host's clock now, and how
  // often DATE_CONFIG set it. While refusing, DATE_CONFIG answers ERROR.
  std::chrono::seconds ClockOffset() const;
  int ClockSetCount() const;
  void SetClockRefusing(bool refusing);
  // One CGI item, exactly as sent ("SYSTEM_INFO", "VIDEO_STREAM=DUAL"),
  // answers this text instead of its own, as odd firmware does; nullopt
  // gives it back its own answer.
  void SetCgiAnswer(const std::string& item, std::optional<std::string> answer);

  // Digital I/O of a channel: the input register (bit i = input i) and the
  // output register as the last DIO_OUTPUT left it.
  void SetDigitalInputs(uint32_t mask, int channel = 1);
  uint32_t DigitalOutputs(int channel = 1) const;
  // The motion message stream (GET_CTRL_MSG=MD,3): motion on and off, levels,
  // interval and its faults.
  MotionStream& Motion();

  // The storage card: whether one is mounted (models with a card slot start
  // with one) and what it holds.
  void SetStorageMounted(bool mounted);
  void SetStorageRetention(std::chrono::seconds keep);
  const StorageCard& Storage() const { return *card_; }

  // The loudspeaker of an input (models with audio output): every 16-bit
  // sample that reached it through the vendor library's audio path
  // (POST /cgi-bin/speaker?USER=u&PWD=p&CHANNEL=n, little-endian samples),
  // oldest first.
  std::vector<int16_t> SpeakerSamples(int channel = 1) const;
  void ClearSpeaker();

  // Faults. They stay in force across reboots until turned off.
  // The network between recorder and camera breaks: RTSP connections are
  // refused and running sessions dropped; the camera keeps recording.
  void SetNetworkOutage(bool outage);
  void SetRtspRefuseConnections(bool refuse);
  void SetDescribeFault(DescribeFault fault);
  // Every RTSP request answered with this status (503: a busy camera); 0 = off.
  void SetRtspRequestStatus(int status);
  // How CGI answers go out: trickled, with a 4 GB Content-Length, or never.
  void SetHttpFault(HttpFault fault);
  // The pause before each byte of a trickled answer, HTTP and RTSP (50 ms).
  void SetTrickleInterval(std::chrono::milliseconds interval);
  void SetStreamFrozen(bool frozen);  // no more RTP; sessions stay up
  // Wall-clock times (ms since the epoch) at which the first input's encoder
  // handed on its pictures: what the camera streamed, to hold a recording to.
  std::vector<long long> PictureTimes() const;
  void DropRtspConnections();  // closes every RTSP connection now
  void SendRtcpBye();          // ends running streams with RTCP BYE
  // Takes HTTP and RTSP away for reboot_duration and brings them back on the
  // same ports with the current settings (what SAVE_REBOOT does).
  void Reboot();
  bool IsRebooting() const;
  // Reboots completed since Start.
  int RebootCount() const;
  // Waits until no reboot is pending or running; false on time-out.
  bool WaitUntilUp(std::chrono::milliseconds timeout) const;
  size_t RtspClientCount();

  // Production IDs the camera can pretend to be.
  static std::vector<std::string> Models();

 private:
  bool StartServices(std::string* error);
  void StopServices();
  void ControlLoop();
  void RequestReboot();
  void Record(std::string_view path, std::string_view query, int status);
  HttpReply Speak(std::string_view path, std::string_view query, std::string_view body);

  const Options options_;
  const CameraModel* model_;
  std::unique_ptr<SettingsTable> settings_;
  std::unique_ptr<CameraClock> clock_;
  std::unique_ptr<CgiHandler> cgi_;
  std::unique_ptr<DioRegister> dio_;
  std::unique_ptr<MotionStream> motion_;
  std::shared_ptr<StorageCard> card_;
  std::shared_ptr<const ReplayClip> clip_;
  std::string certificate_pem_;
  std::string key_pem_;

  mutable std::mutex services_mutex_;  // Start, Stop, reboot and faults
  HttpServer http_;
  RtspServer rtsp_;
  uint16_t http_port_ = 0;
  std::vector<uint16_t> rtsp_ports_;
  uint16_t multicast_port_ = 0;
  bool running_ = false;
  bool refuse_ = false;
  DescribeFault describe_fault_ = DescribeFault::kNone;
  int rtsp_request_status_ = 0;
  HttpFault http_fault_ = HttpFault::kNone;
  std::chrono::milliseconds trickle_interval_{50};
  bool frozen_ = false;

  mutable std::mutex state_mutex_;
  mutable std::condition_variable state_changed_;
  bool stop_requested_ = false;
  bool reboot_requested_ = false;
  bool rebooting_ = false;
  int reboot_count_ = 0;
  std::thread control_;

  mutable std::mutex log_mutex_;
  std::vector<CgiRequest> requests_;

  mutable std::mutex speaker_mutex_;
  std::vector<std::vector<int16_t>> speaker_;  // by input, from 1
};

}  // namespace strandline::sim
