#include "camera/scripted_http_server.h"

#include <algorithm>
#include <chrono>

#include "sim/self_signed_certificate.h"

namespace orbisan::test {
namespace {

using namespace std::chrono_literals;

// A body produced as the client reads: stalled, trickled or repeated.
class ScriptedBody : public strandline::sim::HttpBodyStream {
 public:
  ScriptedBody(HttpReply reply, std::shared_ptr<ScriptedHttpServer::Stalls> stalls)
      : reply_(std::move(reply)),
        stalls_(std::move(stalls)),
        total_(reply_.body.size() * (reply_.withLength ? 1 : reply_.repeatBody)) {}

  long Next(char* buffer, size_t max, std::chrono::milliseconds wait) override {
    if (pos_ >= total_) return kEnd;
    std::unique_lock<std::mutex> lock(stalls_->mutex);
    if (pos_ >= reply_.stallAfter && !stalls_->done) {
      // Bounded, so that a forgotten stall cannot hang the test program.
      if (std::chrono::steady_clock::now() - stalledSince_ > 10s) return kDrop;
      stalls_->released.wait_for(lock, wait, [this] { return stalls_->done; });
      return 0;
    }
    if (reply_.trickleMs > 0) {
      if (stalls_->released.wait_for(lock, std::chrono::milliseconds(reply_.trickleMs),
                                     [this] { return stalls_->done; }))
        return kDrop;
      max = 1;
    }
    size_t count = std::min<size_t>(total_ - pos_, max);
    if (pos_ < reply_.stallAfter) count = std::min<size_t>(count, reply_.stallAfter - pos_);
    for (size_t i = 0; i < count; ++i) buffer[i] = reply_.body[(pos_ + i) % reply_.body.size()];
    pos_ += count;
    if (pos_ == reply_.stallAfter) stalledSince_ = std::chrono::steady_clock::now();
    return static_cast<long>(count);
  }
  std::string ContentType() const override { return "text/plain"; }

 private:
  const HttpReply reply_;
  const std::shared_ptr<ScriptedHttpServer::Stalls> stalls_;
  const size_t total_;
  size_t pos_ = 0;
  std::chrono::steady_clock::time_point stalledSince_ = std::chrono::steady_clock::now();
};

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(Options options, Handler handler) : handler_(std::move(handler)) {
  strandline::sim::HttpServer::Config config;
  config.port = options.port;
  config.auth = options.auth;
  config.user = options.user;
  config.password = options.password;
  config.keep_alive = true;
  config.https = options.tls;
  strandline::sim::SelfSignedCertificate identity;
  if (options.tls && !strandline::sim::SelfSignedCertificate::Generate(&identity, nullptr)) return;
  config.certificate_pem = identity.certificate_pem;
  config.key_pem = identity.key_pem;
  auto answer = [this](std::string_view path, std::string_view query, bool) {
    Record(path, query, true);
    HttpReply reply = handler_(std::string(path) + (query.empty() ? "" : "?") + std::string(query));
    strandline::sim::HttpReply out;
    out.status = static_cast<int>(reply.status);
    if (reply.withLength && reply.stallAfter == SIZE_MAX && reply.trickleMs == 0 && !reply.body.empty()) {
      out.body = std::move(reply.body);
    } else if (!reply.body.empty()) {
      out.stream = std::make_shared<ScriptedBody>(std::move(reply), stalls_);
    }
    return out;
  };
  auto refused = [this](std::string_view path, std::string_view query, int status) {
    if (status == 401) Record(path, query, false);
  };
  server_.Start(config, answer, nullptr, refused, nullptr);
}

void ScriptedHttpServer::Record(std::string_view path, std::string_view query, bool accepted) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back({std::string(path) + (query.empty() ? "" : "?") + std::string(query), accepted});
}

std::vector<RecordedRequest> ScriptedHttpServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedHttpServer::AcceptedUris() {
  std::vector<std::string> out;
  for (const RecordedRequest& request : Requests()) {
    if (request.accepted) out.push_back(request.uri);
  }
  return out;
}

void ScriptedHttpServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

void ScriptedHttpServer::ReleaseStalls() {
  std::lock_guard<std::mutex> lock(stalls_->mutex);
  stalls_->done = true;
  stalls_->released.notify_all();
}

}  // namespace orbisan::test
