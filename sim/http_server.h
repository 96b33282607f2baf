// The camera's web server: loopback HTTP or HTTPS with Basic and/or Digest
// authentication, handing every GET to one callback.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/http_body_stream.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace strandline::sim {

enum class HttpAuth {
  kNone,          // credentials only in the query
  kBasic,         // challenge with Basic
  kDigest,        // challenge with Digest (MD5)
  kEither,        // offer both, accept either
  kDigestSha256,  // challenge with Digest (SHA-256)
};

// How answers go out, for clients' tests of slow and hostile cameras.
enum class HttpFault {
  kNone,
  kTrickle,            // the body goes out one byte at a time, the trickle interval apart
  kHugeContentLength,  // "Content-Length: 4000000000"; the answer, then filler for as long as the client reads
  kNoAnswer,           // the request is taken (and logged with status 0) but never answered
};

// What the Content-Length of HttpFault::kHugeContentLength claims.
inline constexpr uint64_t kHugeContentLength = 4000000000ULL;

struct HttpReply {
  int status = 200;
  std::string body;
  bool after_sent = false;  // run the server's after-sent hook once the reply has gone out
  // When set, the body comes from here instead (no length, until it ends).
  std::shared_ptr<HttpBodyStream> stream;
};

class HttpServer {
 public:
  struct Config {
    std::string bind_address = "127.0.0.1";
    uint16_t port = 0;  // 0 = any free port
    HttpAuth auth = HttpAuth::kNone;
    std::string user;
    std::string password;
    std::string realm = "IP Camera";
    bool https = false;
    std::string certificate_pem;  // required with https
    std::string key_pem;
    // Keeps each connection open for the client's next request, as most web
    // servers do (the camera closes it after every answer).
    bool keep_alive = false;
  };
  // raw_path and raw_query are the request target exactly as received, split at
  // the first "?". header_authenticated tells whether Basic or Digest
  // credentials were checked and accepted (never true with HttpAuth::kNone).
  using Handler =
      std::function<HttpReply(std::string_view raw_path, std::string_view raw_query, bool header_authenticated)>;
  // Called after the handler's reply has been sent, for replies with after_sent set.
  using AfterSent = std::function<void()>;
  // POST requests with their body (the loudspeaker's audio); without one
  // POST is refused with 405.
  using Upload = std::function<HttpReply(std::string_view raw_path, std::string_view raw_query, std::string_view body)>;
  // Told about every request: its target and the status it got.
  using Observer = std::function<void(std::string_view raw_path, std::string_view raw_query, int status)>;

  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool Start(const Config& config, Handler handler, AfterSent after_sent, Observer observer, std::string* error);
  // Set before Start.
  void SetUploadHandler(Upload upload) { upload_ = std::move(upload); }
  // Closes the listening socket and every connection; waits for the server thread.
  void Stop();
  bool IsRunning() const { return daemon_ != nullptr; }
  uint16_t Port() const { return port_; }
  // TCP connections accepted since Start.
  unsigned Connections() const { return connections_.load(); }

  // Applies to answers from the next one on; a request held by kNoAnswer is
  // let go (its connection closed, still unanswered) when the fault changes.
  void SetFault(HttpFault fault, std::chrono::milliseconds trickle_interval);

 private:
  friend struct HttpServerCallbacks;
  friend struct FaultyBody;
  friend struct StreamedBody;
  // Waits for the given time; false when the server is stopping.
  bool Pause(std::chrono::milliseconds duration);
  // Holds an unanswered request until the fault changes or the server stops.
  void HoldWhileSilent();

  Config config_;
  Handler handler_;
  Upload upload_;
  AfterSent after_sent_;
  Observer observer_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::atomic<unsigned> connections_{0};
  std::string nonce_seed_;
  std::string opaque_;

  std::mutex fault_mutex_;
  std::condition_variable fault_changed_;
  HttpFault fault_ = HttpFault::kNone;
  std::chrono::milliseconds trickle_interval_{50};
  bool stopping_ = false;
  unsigned fault_generation_ = 0;
};

}  // namespace strandline::sim
