#include "camera/scripted_http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/self_signed_certificate.h"

namespace orbisan::test {

namespace {

constexpr const char* kRealm = "camera";
unsigned char kDigestRandom[16] = {7, 1, 8, 2, 8, 1, 8, 2, 8, 4, 5, 9, 0, 4, 5, 2};

// Per request: the raw URI, and whether the handler has seen the request yet.
struct RequestContext {
  std::string uri;
  bool seen = false;
};

void* LogUri(void*, const char* uri, MHD_Connection*) { return new RequestContext{uri}; }

void Completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<RequestContext*>(*context);
  *context = nullptr;
}

void Notify(void* self, MHD_Connection*, void**, MHD_ConnectionNotificationCode code) {
  if (code == MHD_CONNECTION_NOTIFY_STARTED) static_cast<ScriptedHttpServer*>(self)->CountConnection();
}

MHD_Result Access(void* self, MHD_Connection* connection, const char*, const char*, const char*, const char*, size_t*,
                  void** context) {
  // Answering on the first call (headers only) makes the server drop the
  // connection afterwards; answer on the second, as a keep-alive server does.
  auto* request = static_cast<RequestContext*>(*context);
  if (request != nullptr && !request->seen) {
    request->seen = true;
    return MHD_YES;
  }
  return static_cast<MHD_Result>(static_cast<ScriptedHttpServer*>(self)->Answer(connection, nullptr, context));
}

}  // namespace

struct ScriptedHttpServer::Stream {
  ScriptedHttpServer* server;
  HttpReply reply;
  uint64_t total;
};

namespace {

ssize_t ReadStream(void* cls, uint64_t pos, char* buf, size_t max) {
  auto* stream = static_cast<ScriptedHttpServer::Stream*>(cls);
  return stream->server->Produce(*stream, pos, buf, max);
}

void FreeStream(void* cls) { delete static_cast<ScriptedHttpServer::Stream*>(cls); }

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(Options options, Handler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION;
  std::vector<MHD_OptionItem> items = {{MHD_OPTION_SOCK_ADDR, 0, &address},
                                       {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&LogUri), this},
                                       {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Completed), this},
                                       {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Notify), this},
                                       {MHD_OPTION_DIGEST_AUTH_RANDOM, sizeof(kDigestRandom), kDigestRandom},
                                       {MHD_OPTION_CONNECTION_TIMEOUT, 30, nullptr}};
  if (options_.tls) {
    strandline::sim::SelfSignedCertificate identity;
    if (!strandline::sim::SelfSignedCertificate::Generate(&identity, nullptr)) return;
    key_ = identity.key_pem;
    cert_ = identity.certificate_pem;
    flags |= MHD_USE_TLS;
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, key_.data()});
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, cert_.data()});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &Access, this, MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
  if (daemon_ != nullptr) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info != nullptr ? info->port : 0;
  }
}

ScriptedHttpServer::~ScriptedHttpServer() {
  ReleaseStalls();
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
}

std::vector<RecordedRequest> ScriptedHttpServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedHttpServer::AcceptedUris() {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

void ScriptedHttpServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
  accepted_.clear();
}

void ScriptedHttpServer::ReleaseStalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  stallsReleased_ = true;
  released_.notify_all();
}

int ScriptedHttpServer::Answer(void* connectionPtr, const char*, void** context) {
  auto* connection = static_cast<MHD_Connection*>(connectionPtr);
  const std::string uri = *context != nullptr ? static_cast<RequestContext*>(*context)->uri : std::string();
  const char* authorization = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({uri, authorization != nullptr ? authorization : ""});
  }

  if (options_.auth == Auth::kBasic) {
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    const bool ok = user != nullptr && password != nullptr && options_.user == user && options_.password == password;
    if (user != nullptr) MHD_free(user);
    if (password != nullptr) MHD_free(password);
    if (!ok) {
      MHD_Response* denied = MHD_create_response_from_buffer(6, const_cast<char*>("denied"), MHD_RESPMEM_PERSISTENT);
      const MHD_Result result = MHD_queue_basic_auth_fail_response(connection, kRealm, denied);
      MHD_destroy_response(denied);
      return result;
    }
  } else if (options_.auth == Auth::kDigest) {
    char* user = MHD_digest_auth_get_username(connection);
    int check = MHD_NO;
    if (user != nullptr) {
      check = MHD_digest_auth_check2(connection, kRealm, user, options_.password.c_str(), 300, MHD_DIGEST_ALG_MD5);
      if (options_.user != user) check = MHD_NO;
      MHD_free(user);
    }
    if (check != MHD_YES) {
      MHD_Response* denied = MHD_create_response_from_buffer(6, const_cast<char*>("denied"), MHD_RESPMEM_PERSISTENT);
      const MHD_Result result =
          MHD_queue_auth_fail_response2(connection, kRealm, "0123456789abcdef", denied,
                                        check == MHD_INVALID_NONCE ? MHD_YES : MHD_NO, MHD_DIGEST_ALG_MD5);
      MHD_destroy_response(denied);
      return result;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepted_.push_back(uri);
  }

  HttpReply reply = handler_(uri);
  MHD_Response* response = nullptr;
  if (reply.withLength && reply.stallAfter == SIZE_MAX && reply.trickleMs == 0) {
    response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
  } else {
    auto* stream = new Stream{this, reply, 0};
    stream->total = reply.body.size() * (reply.withLength ? 1 : reply.repeatBody);
    response = MHD_create_response_from_callback(reply.withLength ? reply.body.size() : MHD_SIZE_UNKNOWN, 8192,
                                                 &ReadStream, stream, &FreeStream);
  }
  const MHD_Result result = MHD_queue_response(connection, reply.status, response);
  MHD_destroy_response(response);
  return result;
}

ssize_t ScriptedHttpServer::Produce(Stream& stream, uint64_t pos, char* buf, size_t max) {
  if (pos >= stream.total || stream.reply.body.empty()) return MHD_CONTENT_READER_END_OF_STREAM;
  if (pos >= stream.reply.stallAfter) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Bounded, so that a forgotten stall cannot hang the test program.
    if (!released_.wait_for(lock, std::chrono::seconds(10), [this] { return stallsReleased_; })) {
      return MHD_CONTENT_READER_END_WITH_ERROR;
    }
  }
  if (stream.reply.trickleMs > 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto step = std::chrono::milliseconds(stream.reply.trickleMs);
    if (released_.wait_for(lock, step, [this] { return stallsReleased_; })) return MHD_CONTENT_READER_END_WITH_ERROR;
    max = 1;
  }
  uint64_t limit = stream.total - pos;
  if (pos < stream.reply.stallAfter) limit = std::min<uint64_t>(limit, stream.reply.stallAfter - pos);
  size_t count = static_cast<size_t>(std::min<uint64_t>(limit, max));
  const std::string& body = stream.reply.body;
  for (size_t i = 0; i < count; ++i) buf[i] = body[(pos + i) % body.size()];
  return static_cast<ssize_t>(count);
}

}  // namespace orbisan::test
