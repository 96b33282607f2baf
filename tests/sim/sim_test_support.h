// Clients the simulator's tests talk to it with: libcurl for HTTP, a small
// RTSP client for the exchanges ffprobe cannot show, and ffprobe itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/simulated_camera.h"
#include "support/run_command.h"

namespace simtest {

struct HttpResult {
  long status = 0;  // 0 = no answer
  std::string body;
  std::string headers;
};

enum class HttpAuthKind { kNone, kBasic, kDigest };

// One GET with libcurl; credentials (when given) use the chosen scheme only.
HttpResult HttpGet(const std::string& url, HttpAuthKind auth = HttpAuthKind::kNone, const std::string& user = "",
                   const std::string& password = "");

// The URL of a CGI request to camera with the given items ("&NAME=value...") and login.
std::string Cgi(const strandline::sim::SimulatedCamera& camera, const std::string& family, const std::string& items,
                const std::string& user = "admin", const std::string& password = "admin");

// Options for a camera of the given model, everything else as by default.
strandline::sim::SimulatedCamera::Options OptionsFor(const std::string& model);

// Lines of a CR LF text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

struct ProbedStream {
  std::string codec;
  int width = 0;
  int height = 0;
};

// ffprobe -rtsp_transport <transport> -show_streams on url; nullopt when it fails.
std::optional<ProbedStream> Probe(const std::string& url, const std::string& transport,
                                  std::string* error_text = nullptr);

// A deliberately plain RTSP client: one request at a time, RTP interleaved on TCP.
class RawRtspClient {
 public:
  struct Response {
    int status = 0;                              // 0 = no complete answer
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
  };

  ~RawRtspClient();
  bool Connect(uint16_t port);
  void Close();

  // Sends one request (CSeq and Session added) and reads the answer.
  // extra: further header lines with CR LF.
  Response Request(const std::string& method, const std::string& url, const std::string& extra = "",
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  // Sends text exactly as given (a whole request, CSeq and all) and reads the
  // answer; remembers its Session like Request does.
  Response SendVerbatim(const std::string& text, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  // Goes on reading an answer that had not come complete within its request's time-out.
  Response ReadAnswer(std::chrono::milliseconds timeout) { return ReadResponse(timeout); }

  // Reads raw bytes (after any already buffered) until max_bytes, the time-out or the peer's close.
  std::string ReadRaw(size_t max_bytes, std::chrono::milliseconds timeout);

  // DESCRIBE, SETUP (interleaved 0-1) and PLAY on base_url; true when all answer 200.
  bool PlayInterleaved(const std::string& base_url, const std::string& play_extra = "");

  // Reads interleaved frames for the given time, counting RTP packets (channel 0)
  // and keeping their time stamps.
  struct Traffic {
    int rtp_packets = 0;
    std::vector<uint32_t> rtp_timestamps;
    bool closed = false;
  };
  Traffic Receive(std::chrono::milliseconds duration);

 private:
  bool SendText(const std::string& text);
  // Reads once what arrives before the deadline (at most limit bytes) into
  // pending_: 1 when something came, 0 at the deadline, -1 at the peer's close.
  int Fill(std::chrono::steady_clock::time_point deadline, size_t limit = 65536);
  Response ReadResponse(std::chrono::milliseconds timeout);

  int fd_ = -1;
  int cseq_ = 0;
  std::string session_;
  std::string pending_;  // bytes read past the last response
};

}  // namespace simtest
