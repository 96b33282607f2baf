#pragma once

// A small HTTP(S) server on loopback for the camera tests: every request is
// recorded and answered by a handler the test gives. It can ask for Basic or
// Digest credentials, speak TLS with a certificate made at start, stall a
// body half way and count the TCP connections it accepted.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct MHD_Daemon;

namespace orbisan::test {

struct HttpReply {
  unsigned status = 200;
  std::string body;
  bool withLength = true;        // false: chunked, no Content-Length
  size_t repeatBody = 1;         // without length: how often the body is sent
  size_t stallAfter = SIZE_MAX;  // bytes sent before the body stalls
  unsigned trickleMs = 0;        // > 0: the body comes one byte every trickleMs
};

struct RecordedRequest {
  std::string uri;            // path and raw query as received
  std::string authorization;  // the Authorization header, "" when none
};

class ScriptedHttpServer {
 public:
  enum class Auth { kNone, kBasic, kDigest };
  struct Options {
    Auth auth = Auth::kNone;
    std::string user = "admin";
    std::string password = "secret";
    bool tls = false;
    uint16_t port = 0;  // 0: any free port
  };
  using Handler = std::function<HttpReply(const std::string& uri)>;

  ScriptedHttpServer(Options options, Handler handler);
  ~ScriptedHttpServer();
  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

  bool Running() const { return daemon_ != nullptr; }
  uint16_t Port() const { return port_; }
  std::vector<RecordedRequest> Requests();
  // Requests that passed authentication (or all when none is asked for).
  std::vector<std::string> AcceptedUris();
  void ClearRequests();
  unsigned Connections() const { return connections_.load(); }
  // Lets stalled bodies go on (and end).
  void ReleaseStalls();

  // Used by the C callbacks.
  struct Stream;
  int Answer(void* connection, const char* url, void** context);
  void CountConnection() { ++connections_; }
  ssize_t Produce(Stream& stream, uint64_t pos, char* buf, size_t max);

 private:
  Options options_;
  Handler handler_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::string key_, cert_;
  std::atomic<unsigned> connections_{0};
  std::mutex mutex_;
  std::condition_variable released_;
  bool stallsReleased_ = false;
  std::vector<RecordedRequest> requests_;
  std::vector<std::string> accepted_;
};

}  // namespace orbisan::test
