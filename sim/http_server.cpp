#include "sim/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <openssl/rand.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace strandline::sim {
namespace {

constexpr unsigned kNonceTimeoutSeconds = 300;

std::string RandomHex(size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1) {
    for (size_t i = 0; i < bytes; ++i) raw[i] = static_cast<char>(i * 37 + 11);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

// What one request carries from its first sight to its completion.
struct RequestState {
  std::string raw_path;
  std::string raw_query;
  bool after_sent = false;
  std::string body;            // of a POST, up to kMaxUpload bytes
  bool body_expected = false;  // a POST's first call comes before its body
  bool seen = false;           // the first call of a kept-alive GET has come
};

constexpr size_t kMaxUpload = 1 << 20;

MHD_Response* TextResponse(const std::string& body) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
  return response;
}

}  // namespace

// The body of a trickled or oversized answer, produced as the client reads.
struct FaultyBody {
  HttpServer* server;
  HttpFault fault;
  std::chrono::milliseconds interval;
  std::string body;

  static ssize_t Read(void* cls, uint64_t pos, char* buf, size_t max) {
    auto* self = static_cast<FaultyBody*>(cls);
    if (self->fault == HttpFault::kTrickle) {
      if (pos >= self->body.size()) return MHD_CONTENT_READER_END_OF_STREAM;
      if (max == 0) return 0;
      if (!self->server->Pause(self->interval)) return MHD_CONTENT_READER_END_WITH_ERROR;
      buf[0] = self->body[pos];
      return 1;
    }
    if (!self->server->Pause(std::chrono::milliseconds(0))) return MHD_CONTENT_READER_END_WITH_ERROR;
    static const std::string kFiller = "FILLER=0123456789abcdefghijklmnopqrstuvwxyz\r\n";
    for (size_t i = 0; i < max; ++i) {
      uint64_t at = pos + i;
      buf[i] = at < self->body.size() ? self->body[at] : kFiller[(at - self->body.size()) % kFiller.size()];
    }
    return static_cast<ssize_t>(max);
  }

  static void Free(void* cls) { delete static_cast<FaultyBody*>(cls); }
};

// A body that a stream produces for as long as the client stays. The
// connection has its own thread, so waiting here holds nobody else up.
struct StreamedBody {
  HttpServer* server;
  MHD_Connection* connection;
  std::shared_ptr<HttpBodyStream> stream;

  // The client went away (or broke the connection) without reading on.
  bool PeerGone() const {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return true;
    char byte;
    const ssize_t got = recv(info->connect_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

  static ssize_t Read(void* cls, uint64_t, char* buf, size_t max) {
    auto* self = static_cast<StreamedBody*>(cls);
    for (;;) {
      if (!self->server->Pause(std::chrono::milliseconds(0)) || self->PeerGone()) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
      }
      const long got = self->stream->Next(buf, max, std::chrono::milliseconds(100));
      if (got > 0) return got;
      if (got == HttpBodyStream::kEnd) return MHD_CONTENT_READER_END_OF_STREAM;
      if (got == HttpBodyStream::kDrop) return MHD_CONTENT_READER_END_WITH_ERROR;
    }
  }

  static void Free(void* cls) { delete static_cast<StreamedBody*>(cls); }
};

struct HttpServerCallbacks {
  static void* OnUri(void* cls, const char* uri, MHD_Connection*) {
    (void)cls;
    auto* state = new RequestState;
    std::string_view target(uri ? uri : "");
    size_t question = target.find('?');
    state->raw_path = std::string(target.substr(0, question));
    if (question != std::string_view::npos) state->raw_query = std::string(target.substr(question + 1));
    return state;
  }

  static void OnConnection(void* cls, MHD_Connection*, void**, MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_STARTED) ++static_cast<HttpServer*>(cls)->connections_;
  }

  static void OnCompleted(void* cls, MHD_Connection*, void** con_cls, MHD_RequestTerminationCode code) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<RequestState*>(*con_cls);
    if (!state) return;
    if (state->after_sent && code == MHD_REQUEST_TERMINATED_COMPLETED_OK && server->after_sent_) {
      server->after_sent_();
    }
    delete state;
    *con_cls = nullptr;
  }

  static MHD_DigestAuthAlgorithm Algorithm(HttpAuth auth) {
    return auth == HttpAuth::kDigestSha256 ? MHD_DIGEST_ALG_SHA256 : MHD_DIGEST_ALG_MD5;
  }

  static bool CheckCredentials(HttpServer* server, MHD_Connection* connection, bool* stale_nonce) {
    const auto& config = server->config_;
    *stale_nonce = false;
    bool basic = config.auth == HttpAuth::kBasic || config.auth == HttpAuth::kEither;
    bool digest =
        config.auth == HttpAuth::kDigest || config.auth == HttpAuth::kEither || config.auth == HttpAuth::kDigestSha256;
    if (basic) {
      char* password = nullptr;
      char* user = MHD_basic_auth_get_username_password(connection, &password);
      bool ok = user && password && config.user == user && config.password == password;
      if (user) MHD_free(user);
      if (password) MHD_free(password);
      if (ok) return true;
    }
    if (digest) {
      char* user = MHD_digest_auth_get_username(connection);
      if (user) {
        int result = MHD_NO;
        if (config.user == user) {
          result = MHD_digest_auth_check2(connection, config.realm.c_str(), config.user.c_str(),
                                          config.password.c_str(), kNonceTimeoutSeconds, Algorithm(config.auth));
        }
        MHD_free(user);
        if (result == MHD_YES) return true;
        if (result == MHD_INVALID_NONCE) *stale_nonce = true;
      }
    }
    return false;
  }

  static MHD_Result Challenge(HttpServer* server, MHD_Connection* connection, bool stale_nonce) {
    const auto& config = server->config_;
    MHD_Response* response = TextResponse("401 Unauthorized\r\n");
    if (!response) return MHD_NO;
    MHD_Result result;
    if (config.auth == HttpAuth::kBasic) {
      result = MHD_queue_basic_auth_fail_response(connection, config.realm.c_str(), response);
    } else {
      if (config.auth == HttpAuth::kEither) {
        std::string basic = "Basic realm=\"" + config.realm + "\"";
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, basic.c_str());
      }
      result = MHD_queue_auth_fail_response2(connection, config.realm.c_str(), server->opaque_.c_str(), response,
                                             stale_nonce ? MHD_YES : MHD_NO, Algorithm(config.auth));
    }
    MHD_destroy_response(response);
    return result;
  }

  static MHD_Result Stream(HttpServer* server, MHD_Connection* connection, const HttpReply& reply) {
    auto* body = new StreamedBody{server, connection, reply.stream};
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &StreamedBody::Read, body, &StreamedBody::Free);
    if (!response) {
      delete body;
      return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.stream->ContentType().c_str());
    MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    return result;
  }

  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char*, const char* method, const char*,
                              const char* upload_data, size_t* upload_size, void** con_cls) {
    auto* server = static_cast<HttpServer*>(cls);
    auto* state = static_cast<RequestState*>(*con_cls);
    if (!state) return MHD_NO;
    // Answering on a GET's first call (headers only) makes the server close
    // the connection afterwards; a kept-alive one answers on the second.
    if (server->config_.keep_alive && !state->seen && std::strcmp(method, MHD_HTTP_METHOD_GET) == 0) {
      state->seen = true;
      return MHD_YES;
    }
    if (server->upload_ && !state->body_expected && std::strcmp(method, MHD_HTTP_METHOD_POST) == 0) {
      state->body_expected = true;
      return MHD_YES;
    }
    // Request bodies are kept for the upload handler only.
    if (*upload_size != 0) {
      if (server->upload_ && state->body.size() + *upload_size <= kMaxUpload)
        state->body.append(upload_data, *upload_size);
      *upload_size = 0;
      return MHD_YES;
    }
    auto reply_with = [&](int status, const std::string& body) {
      MHD_Response* response = TextResponse(body);
      if (!response) return MHD_NO;
      MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(status), response);
      MHD_destroy_response(response);
      return result;
    };
    auto observe = [&](int status) {
      if (server->observer_) server->observer_(state->raw_path, state->raw_query, status);
    };

    const bool upload = server->upload_ && std::strcmp(method, MHD_HTTP_METHOD_POST) == 0;
    if (!upload && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0) {
      observe(405);
      return reply_with(405, "405 Method Not Allowed\r\n");
    }
    bool header_ok = false;
    if (server->config_.auth != HttpAuth::kNone) {
      bool stale = false;
      header_ok = CheckCredentials(server, connection, &stale);
      if (!header_ok) {
        observe(401);
        return Challenge(server, connection, stale);
      }
    }
    HttpFault fault;
    std::chrono::milliseconds interval;
    {
      std::lock_guard<std::mutex> lock(server->fault_mutex_);
      fault = server->fault_;
      interval = server->trickle_interval_;
    }
    if (fault == HttpFault::kNoAnswer) {
      observe(0);
      server->HoldWhileSilent();
      return MHD_NO;
    }
    HttpReply reply = upload ? server->upload_(state->raw_path, state->raw_query, state->body)
                             : server->handler_(state->raw_path, state->raw_query, header_ok);
    observe(reply.status);
    if (reply.status == 401) {
      if (server->config_.auth != HttpAuth::kNone) return Challenge(server, connection, false);
      return reply_with(401, "401 Unauthorized\r\n");
    }
    if (reply.status == 404) return reply_with(404, "404 Not Found\r\n");
    state->after_sent = reply.after_sent;
    if (reply.stream) return Stream(server, connection, reply);
    if (fault == HttpFault::kNone) return reply_with(reply.status, reply.body);
    uint64_t size = fault == HttpFault::kTrickle ? reply.body.size() : kHugeContentLength;
    auto* body = new FaultyBody{server, fault, interval, std::move(reply.body)};
    MHD_Response* response = MHD_create_response_from_callback(size, fault == HttpFault::kTrickle ? 1 : 16 * 1024,
                                                               &FaultyBody::Read, body, &FaultyBody::Free);
    if (!response) {
      delete body;
      return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    return result;
  }
};

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const Config& config, Handler handler, AfterSent after_sent, Observer observer,
                       std::string* error) {
  Stop();
  connections_ = 0;
  config_ = config;
  handler_ = std::move(handler);
  after_sent_ = std::move(after_sent);
  observer_ = std::move(observer);
  nonce_seed_ = RandomHex(32);
  opaque_ = RandomHex(16);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(config.port);
  if (inet_pton(AF_INET, config.bind_address.c_str(), &address.sin_addr) != 1) {
    if (error) *error = "bad bind address " + config.bind_address;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(fault_mutex_);
    stopping_ = false;
  }
  // A thread per connection: a slow or silent answer holds only its own.
  unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_THREAD_PER_CONNECTION;
  if (config.https) {
    if (!MHD_is_feature_supported(MHD_FEATURE_TLS)) {
      if (error) *error = "this libmicrohttpd has no TLS support";
      return false;
    }
    flags |= MHD_USE_TLS;
  }
  // The option list differs only by the TLS entries; unused slots end the list early.
  MHD_OptionItem options[] = {
      {MHD_OPTION_SOCK_ADDR, 0, &address},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&HttpServerCallbacks::OnUri), this},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpServerCallbacks::OnCompleted), this},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&HttpServerCallbacks::OnConnection), this},
      {MHD_OPTION_DIGEST_AUTH_RANDOM, static_cast<intptr_t>(nonce_seed_.size()), nonce_seed_.data()},
      {MHD_OPTION_NONCE_NC_SIZE, 256, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, 30, nullptr},
      {config.https ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, const_cast<char*>(config.key_pem.c_str())},
      {config.https ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, const_cast<char*>(config.certificate_pem.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  daemon_ = MHD_start_daemon(flags, config.port, nullptr, nullptr, &HttpServerCallbacks::OnRequest, this,
                             MHD_OPTION_ARRAY, options, MHD_OPTION_END);
  if (!daemon_) {
    if (error) *error = "cannot listen on " + config.bind_address + ":" + std::to_string(config.port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : config.port;
  return true;
}

void HttpServer::Stop() {
  if (!daemon_) return;
  {
    std::lock_guard<std::mutex> lock(fault_mutex_);
    stopping_ = true;
  }
  fault_changed_.notify_all();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

void HttpServer::SetFault(HttpFault fault, std::chrono::milliseconds trickle_interval) {
  {
    std::lock_guard<std::mutex> lock(fault_mutex_);
    if (fault != fault_) ++fault_generation_;
    fault_ = fault;
    trickle_interval_ = trickle_interval;
  }
  fault_changed_.notify_all();
}

bool HttpServer::Pause(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(fault_mutex_);
  fault_changed_.wait_for(lock, duration, [this] { return stopping_; });
  return !stopping_;
}

void HttpServer::HoldWhileSilent() {
  std::unique_lock<std::mutex> lock(fault_mutex_);
  unsigned generation = fault_generation_;
  fault_changed_.wait(lock, [&] { return stopping_ || fault_generation_ != generation; });
}

}  // namespace strandline::sim
