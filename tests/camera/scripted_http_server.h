#pragma once

// A small HTTP(S) server on loopback for the HTTP client's tests, on the
// simulated camera's web server with connections kept alive: every request is
// recorded and answered by a handler the test gives. A body can stall half
// way, trickle or come without a length; the server counts the TCP
// connections it accepted.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/http_server.h"

namespace orbisan::test {

struct HttpReply {
  unsigned status = 200;
  std::string body;
  // Any of these makes the body go out without a Content-Length.
  bool withLength = true;  // false: the body repeatBody times
  size_t repeatBody = 1;
  size_t stallAfter = SIZE_MAX;  // bytes sent before the body stalls
  unsigned trickleMs = 0;        // > 0: the body comes one byte every trickleMs
};

struct RecordedRequest {
  std::string uri;        // path and raw query as received
  bool accepted = false;  // passed authentication (always, when none is asked for)
};

class ScriptedHttpServer {
 public:
  using Auth = strandline::sim::HttpAuth;
  struct Options {
    Auth auth = Auth::kNone;
    std::string user = "admin";
    std::string password = "secret";
    bool tls = false;
    uint16_t port = 0;  // 0: any free port
  };
  using Handler = std::function<HttpReply(const std::string& uri)>;

  ScriptedHttpServer(Options options, Handler handler);

  bool Running() const { return server_.IsRunning(); }
  uint16_t Port() const { return server_.Port(); }
  std::vector<RecordedRequest> Requests();
  std::vector<std::string> AcceptedUris();
  void ClearRequests();
  unsigned Connections() const { return server_.Connections(); }
  // Lets stalled bodies go on (and end) and trickling ones break off.
  void ReleaseStalls();

  struct Stalls {
    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
  };

 private:
  void Record(std::string_view path, std::string_view query, bool accepted);

  Handler handler_;
  std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::shared_ptr<Stalls> stalls_ = std::make_shared<Stalls>();
  strandline::sim::HttpServer server_;  // last: stopped before the rest goes
};

}  // namespace orbisan::test
