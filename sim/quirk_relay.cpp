#include "sim/quirk_relay.h"

#include <arpa/inet.h>
#include <glib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include "sim/loopback_socket.h"
#include "sim/rtp_quirks.h"
#include "sim/rtsp_quirk_text.h"

namespace strandline::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kRealm = "IP Camera";
// Paths the camera announces that are not the server's own: a prefix that
// stands for the stream's root, or the media's absolute control.
constexpr const char* kAliasPrefixes[] = {"/live.sdp?channel=1", "/moved/live", "/hop/1", "/hop/2"};
constexpr const char* kAbsoluteControl = "/media/video1";

std::string Md5(const std::string& text) {
  gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_MD5, text.c_str(), -1);
  std::string out(digest);
  g_free(digest);
  return out;
}

// A quoted or bare parameter of a Digest Authorization value.
std::string DigestParameter(const std::string& value, const std::string& name) {
  for (size_t at = value.find(name + "="); at != std::string::npos; at = value.find(name + "=", at + 1)) {
    if (at > 0 && value[at - 1] != ' ' && value[at - 1] != ',') continue;
    size_t begin = at + name.size() + 1;
    const bool quoted = begin < value.size() && value[begin] == '"';
    begin += quoted ? 1 : 0;
    return value.substr(begin, value.find(quoted ? "\"" : ", ", begin) - begin);
  }
  return "";
}

// The path of a request URL: what follows the (perhaps doubled) scheme and the address.
std::string PathOf(const std::string& uri) {
  std::string rest = uri;
  while (rest.starts_with("rtsp://")) rest.erase(0, 7);
  const size_t slash = rest.find('/');
  return slash == std::string::npos ? "/" : rest.substr(slash);
}

}  // namespace

class QuirkRelay::Connection {
 public:
  Connection(const Config& config, uint16_t public_port, int client, std::atomic<bool>& stopping)
      : config_(config), quirks_(config.quirks), client_(client), stopping_(stopping), stream_(config.quirks) {
    public_base_ = std::string("rtsp://") + kLoopback + ":" + std::to_string(public_port);
    upstream_base_ = std::string("rtsp://") + kLoopback + ":" + std::to_string(config.upstream_port);
    nonce_ = NewNonce();
  }
  ~Connection() {
    for (int fd : {client_, upstream_, rtp_, rtcp_}) {
      if (fd >= 0) close(fd);
    }
  }

  void Run() {
    upstream_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in server = LoopbackAddress(config_.upstream_port);
    if (upstream_ < 0 || connect(upstream_, reinterpret_cast<const sockaddr*>(&server), sizeof(server)) != 0) return;
    const timeval limit{5, 0};
    for (int fd : {client_, upstream_}) setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    std::vector<char> buffer(65536);
    while (!stopping_ && open_) {
      pollfd fds[4] = {{client_, POLLIN, 0}, {upstream_, POLLIN, 0}, {rtp_, POLLIN, 0}, {rtcp_, POLLIN, 0}};
      const int count = rtp_ >= 0 ? 4 : 2;
      if (poll(fds, count, 10) < 0) break;
      for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t got = recv(fds[i].fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) return;
        (i == 0 ? from_client_ : from_upstream_).append(buffer.data(), static_cast<size_t>(got));
      }
      FromClient();
      FromUpstream();
      for (int i = 2; i < count; ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        // What came while this thread was not scheduled goes out at once: a
        // key frame's burst must not wait a poll per packet.
        for (int read = 0; read < 64; ++read) {
          sockaddr_in from{};
          socklen_t length = sizeof(from);
          const ssize_t got = recvfrom(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &length);
          if (got <= 0) break;
          Datagram(i == 3, ntohs(from.sin_port), std::string_view(buffer.data(), static_cast<size_t>(got)));
        }
      }
      const Clock::time_point now = Clock::now();
      std::vector<RtpQuirkStream::Out> out;
      stream_.Tick(now, &out);
      Deliver(out);
      if (quirks_.Has(Quirk::kCameraRequests) && playing_ && now >= next_request_) SendCameraRequest(now);
    }
  }

 private:
  static std::string NewNonce() {
    char text[17];
    std::snprintf(text, sizeof(text), "%08x%08x", g_random_int(), g_random_int());
    return text;
  }

  void FromClient() {
    while (open_ && !from_client_.empty()) {
      if (from_client_[0] == '\r' || from_client_[0] == '\n') {
        from_client_.erase(0, 1);
      } else if (from_client_[0] == '$') {
        if (from_client_.size() < 4) return;
        const size_t length = static_cast<uint8_t>(from_client_[2]) << 8 | static_cast<uint8_t>(from_client_[3]);
        if (from_client_.size() < 4 + length) return;
        // The client's RTCP goes to the server on the channel the server knows.
        std::string frame = from_client_.substr(0, 4 + length);
        if (static_cast<uint8_t>(frame[1]) == public_channel_ + 1) frame[1] = static_cast<char>(upstream_channel_ + 1);
        from_client_.erase(0, 4 + length);
        open_ = SendAll(upstream_, frame);
      } else {
        const size_t extent = RtspMessage::Extent(from_client_);
        if (extent == 0) {
          if (from_client_.size() > 65536) open_ = false;
          return;
        }
        RtspMessage message = RtspMessage::Parse(std::string_view(from_client_).substr(0, extent));
        from_client_.erase(0, extent);
        if (!message.start.starts_with("RTSP/")) Request(std::move(message));  // answers to our requests end here
      }
    }
  }

  void Answer(const RtspMessage& request, const std::string& status,
              std::vector<std::pair<std::string, std::string>> headers) {
    RtspMessage answer;
    answer.start = "RTSP/1.0 " + status;
    const std::string* cseq = request.Get("CSeq");
    answer.headers.emplace_back("CSeq", cseq ? *cseq : "0");
    for (auto& header : headers) answer.headers.push_back(std::move(header));
    open_ = SendAll(client_, answer.Text(quirks_.Has(Quirk::kTrailingBlanks)));
  }

  bool Redirect(const RtspMessage& request, const std::string& path) {
    const bool chain = quirks_.Has(Quirk::kRedirectChain);
    const char* status = quirks_.Has(Quirk::kRedirect301)   ? "301 Moved Permanently"
                         : quirks_.Has(Quirk::kRedirect302) ? "302 Found"
                         : quirks_.Has(Quirk::kRedirect303) ? "303 See Other"
                         : quirks_.Has(Quirk::kRedirect307) ? "307 Temporary Redirect"
                                                            : nullptr;
    if ((!status && !chain) || path.starts_with("/moved/live")) return false;
    std::string next = "/moved/live";
    if (chain) {
      status = path.starts_with("/hop/1")   ? "302 Found"
               : path.starts_with("/hop/2") ? "307 Temporary Redirect"
                                            : "301 Moved Permanently";
      next = path.starts_with("/hop/1") ? "/hop/2" : path.starts_with("/hop/2") ? "/moved/live" : "/hop/1";
    }
    Answer(request, status, {{"Location", public_base_ + next}});
    return true;
  }

  // keepalive-401: a keep-alive is let through once with the nonce of the
  // last challenge and a right Digest answer; the next one is challenged again.
  bool Authorized(const RtspMessage& request, const std::string& method) {
    const std::string* header = request.Get("Authorization");
    if (!header || !header->starts_with("Digest ")) return false;
    const std::string nonce = DigestParameter(*header, "nonce");
    const std::string uri = DigestParameter(*header, "uri");
    const std::string expected =
        Md5(Md5(config_.user + ":" + kRealm + ":" + config_.password) + ":" + nonce + ":" + Md5(method + ":" + uri));
    if (nonce != nonce_ || DigestParameter(*header, "response") != expected) return false;
    nonce_ = NewNonce();
    return true;
  }

  void Request(RtspMessage request) {
    const std::string method = request.start.substr(0, request.start.find(' '));
    const size_t uri_at = request.start.find(' ') + 1;
    const std::string uri = request.start.substr(uri_at, request.start.find(' ', uri_at) - uri_at);
    std::string path = PathOf(uri);
    if (method == "DESCRIBE" && Redirect(request, path)) return;
    const bool keepalive = playing_ && (method == "OPTIONS" || method == "GET_PARAMETER");
    if (keepalive && quirks_.Has(Quirk::kKeepaliveRefused)) {
      if (method == "OPTIONS") {
        // Refused, and with the CSeq of an earlier request.
        const std::string* cseq = request.Get("CSeq");
        request.Set("CSeq", std::to_string(cseq ? std::max(0L, std::atol(cseq->c_str()) - 1) : 0));
        Answer(request, "405 Method Not Allowed", {{"Allow", "DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN"}});
      } else {
        Answer(request, "501 Not Implemented", {});
      }
      return;
    }
    if (keepalive && quirks_.Has(Quirk::kKeepalive401) && !Authorized(request, method)) {
      Answer(request, "401 Unauthorized",
             {{"WWW-Authenticate", std::string("Digest realm=\"") + kRealm + "\", nonce=\"" + nonce_ + "\""}});
      return;
    }
    std::string stripped;
    if (path.starts_with(kAbsoluteControl)) path = "/stream=0" + path.substr(std::strlen(kAbsoluteControl));
    for (const char* prefix : kAliasPrefixes) {
      if (!path.starts_with(prefix)) continue;
      stripped = prefix;
      path.erase(0, stripped.size());
      if (!path.starts_with("/")) path.insert(0, "/");
    }
    if (method == "DESCRIBE") public_dir_ = stripped + "/";
    if (uri != "*") request.start = method + " " + upstream_base_ + path + " RTSP/1.0";
    if (const std::string* session = request.Get("Session")) request.Set("Session", SessionIdOf(*session));
    if (method == "SETUP" && !set_up_) {
      if (const std::string* transport = request.Get("Transport")) SetUp(&request, *transport);
    }
    pending_.push_back(method);
    open_ = open_ && SendAll(upstream_, request.Text());
  }

  // The first SETUP of the connection carries the video through the relay.
  void SetUp(RtspMessage* request, const std::string& transport) {
    const std::string channels = TransportParameter(transport, "interleaved");
    const std::string ports = TransportParameter(transport, "client_port");
    if (!channels.empty()) {
      interleaved_ = true;
      upstream_channel_ = static_cast<uint8_t>(std::atoi(channels.c_str()));
      public_channel_ = quirks_.Has(Quirk::kOtherInterleavedChannels) ? 6 : upstream_channel_;
    } else if (!ports.empty()) {
      client_rtp_ = static_cast<uint16_t>(std::atoi(ports.c_str()));
      client_rtcp_ = ports.find('-') == std::string::npos
                         ? client_rtp_ + 1
                         : static_cast<uint16_t>(std::atoi(ports.c_str() + ports.find('-') + 1));
      if (!OpenPortPair()) return;
      request->Set("Transport", WithTransportParameter(transport, "client_port", RelayPorts()));
    } else {
      return;
    }
    setting_up_ = true;
  }

  bool OpenPortPair() {
    if (!BindLoopbackUdpPair(&rtp_, &rtcp_, &relay_port_)) return false;
    // Room for bursts while the relay is starved: the default buffer holds
    // a fraction of a key frame. Beyond the system's cap only where allowed.
    const int bytes = 4 * 1024 * 1024;
    if (setsockopt(rtp_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0) {
      setsockopt(rtp_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    }
    return true;
  }

  std::string RelayPorts() const { return std::to_string(relay_port_) + "-" + std::to_string(relay_port_ + 1); }

  void FromUpstream() {
    while (open_ && !from_upstream_.empty()) {
      if (from_upstream_[0] == '$') {
        if (from_upstream_.size() < 4) return;
        const size_t length = static_cast<uint8_t>(from_upstream_[2]) << 8 | static_cast<uint8_t>(from_upstream_[3]);
        if (from_upstream_.size() < 4 + length) return;
        const auto channel = static_cast<uint8_t>(from_upstream_[1]);
        const std::string_view data = std::string_view(from_upstream_).substr(4, length);
        std::vector<RtpQuirkStream::Out> out;
        if (interleaved_ && channel == upstream_channel_) {
          stream_.Rtp(data, Clock::now(), &out);
        } else if (interleaved_ && channel == upstream_channel_ + 1) {
          stream_.Rtcp(data, &out);
        } else {
          open_ = SendAll(client_, from_upstream_.substr(0, 4 + length));
        }
        from_upstream_.erase(0, 4 + length);
        Deliver(out);
      } else {
        const size_t extent = RtspMessage::Extent(from_upstream_);
        if (extent == 0) return;
        RtspMessage answer = RtspMessage::Parse(std::string_view(from_upstream_).substr(0, extent));
        from_upstream_.erase(0, extent);
        Response(std::move(answer));
      }
    }
  }

  void Response(RtspMessage answer) {
    const std::string method = pending_.empty() ? "" : pending_.front();
    if (!pending_.empty()) pending_.pop_front();
    const bool ok = answer.start.find(" 200 ") != std::string::npos;
    const std::string public_dir = public_base_ + public_dir_;
    for (auto& header : answer.headers) ReplaceAll(header.second, upstream_base_ + "/", public_dir);
    ReplaceAll(answer.body, upstream_base_ + "/", public_dir);
    if (method == "DESCRIBE" && ok) Describe(answer);
    if (method == "SETUP" && ok && setting_up_) {
      setting_up_ = false;
      set_up_ = true;
      const std::string transport = answer.Get("Transport") ? *answer.Get("Transport") : "";
      TransportAnswer shape;
      if (interleaved_) {
        shape.interleaved = std::to_string(public_channel_) + "-" + std::to_string(public_channel_ + 1);
      } else {
        const std::string ports = TransportParameter(transport, "server_port");
        server_rtp_ = static_cast<uint16_t>(std::atoi(ports.c_str()));
        server_rtcp_ = static_cast<uint16_t>(server_rtp_ + 1);
        shape.client_port = std::to_string(client_rtp_) + "-" + std::to_string(client_rtcp_);
        shape.server_port = RelayPorts();
      }
      answer.Set("Transport", QuirkTransport(transport, shape, quirks_));
      if (quirks_.Has(Quirk::kTransportOdd)) {
        answer.Remove("Transport");
        answer.headers.emplace_back("transport", QuirkTransport(transport, shape, quirks_));
      }
    }
    if (const std::string* session = answer.Get("Session"); session && quirks_.Has(Quirk::kOddSession)) {
      const size_t semicolon = session->find(';');
      answer.Set("Session", " \t" + std::string(kOddSessionPrefix) + session->substr(0, semicolon) +
                                (semicolon == std::string::npos ? "" : " " + session->substr(semicolon)));
    }
    if (const std::string* session = answer.Get("Session")) session_ = SessionIdOf(*session);
    if (method == "PLAY" && ok) {
      if (!playing_) next_request_ = Clock::now() + std::chrono::seconds(1);
      playing_ = true;
      if (quirks_.Has(Quirk::kRtpInfoMismatch))
        answer.Set("RTP-Info", "url=" + public_base_ + "/other/track9;seq=1;rtptime=0");
    }
    open_ = open_ && SendAll(client_, answer.Text(quirks_.Has(Quirk::kTrailingBlanks)));
  }

  void Describe(RtspMessage& answer) {
    answer.body = QuirkDescription(answer.body, quirks_);
    if (quirks_.Has(Quirk::kNoContentType)) answer.Remove("Content-Type");
    if (quirks_.Has(Quirk::kContentTypeParams)) answer.Set("Content-Type", "application/sdp; charset=utf-8");
    const std::string* base = answer.Get("Content-Base");
    if (!base) return;
    std::string value = *base;
    if (quirks_.Has(Quirk::kContentBaseNoScheme)) value.erase(0, std::strlen("rtsp://"));
    if (quirks_.Has(Quirk::kContentBaseDoubleScheme)) value = "rtsp://" + value;
    if (quirks_.Has(Quirk::kContentBaseQuerySlash)) value = public_base_ + kAliasPrefixes[0] + "/";
    answer.Set("Content-Base", value);
    if (quirks_.Has(Quirk::kNoContentBase)) answer.Remove("Content-Base");
  }

  void Datagram(bool rtcp, uint16_t from_port, std::string_view data) {
    const uint16_t server = rtcp ? server_rtcp_ : server_rtp_;
    std::vector<RtpQuirkStream::Out> out;
    if (from_port != server) {
      // From the client: on to the server's port of the same kind.
      const sockaddr_in to = LoopbackAddress(server);
      if (server != 0)
        sendto(rtcp ? rtcp_ : rtp_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
      return;
    }
    if (rtcp) {
      stream_.Rtcp(data, &out);
    } else {
      stream_.Rtp(data, Clock::now(), &out);
    }
    Deliver(out);
  }

  void Deliver(const std::vector<RtpQuirkStream::Out>& out) {
    for (const RtpQuirkStream::Out& packet : out) {
      if (!open_) return;
      if (interleaved_) {
        if (quirks_.Has(Quirk::kInterleavedNoise) && ++frames_ % 7 == 0) {
          open_ = SendAll(client_, std::string("\r\n\0\x17 noise\xff\x80", 12));
        }
        std::string frame = "$";
        frame += static_cast<char>(public_channel_ + (packet.rtcp ? 1 : 0));
        frame += static_cast<char>(packet.bytes.size() >> 8);
        frame += static_cast<char>(packet.bytes.size() & 0xFF);
        open_ = open_ && SendAll(client_, frame + packet.bytes);
      } else {
        const sockaddr_in to = LoopbackAddress(packet.rtcp ? client_rtcp_ : client_rtp_);
        sendto(packet.rtcp ? rtcp_ : rtp_, packet.bytes.data(), packet.bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
      }
    }
  }

  void SendCameraRequest(Clock::time_point now) {
    next_request_ = now + std::chrono::seconds(1);
    const bool options = camera_cseq_ % 2 == 0;
    std::string text = std::string(options ? "OPTIONS * " : "GET_PARAMETER ") + (options ? "" : public_base_ + "/ ") +
                       "RTSP/1.0\r\nCSeq: " + std::to_string(++camera_cseq_) + "\r\n";
    if (!options) text += "Session: " + session_ + "\r\n";
    open_ = SendAll(client_, text + "\r\n");
  }

  const Config& config_;
  const QuirkSet quirks_;
  int client_;
  int upstream_ = -1;
  int rtp_ = -1;
  int rtcp_ = -1;
  std::atomic<bool>& stopping_;
  RtpQuirkStream stream_;
  bool open_ = true;
  std::string public_base_;
  std::string upstream_base_;
  std::string public_dir_ = "/";
  std::string from_client_;
  std::string from_upstream_;
  std::deque<std::string> pending_;  // methods of the requests the server has yet to answer
  std::string session_;
  std::string nonce_;
  bool setting_up_ = false;
  bool set_up_ = false;
  bool interleaved_ = false;
  bool playing_ = false;
  uint8_t upstream_channel_ = 0;
  uint8_t public_channel_ = 0;
  uint16_t relay_port_ = 0;
  uint16_t client_rtp_ = 0;
  uint16_t client_rtcp_ = 0;
  uint16_t server_rtp_ = 0;
  uint16_t server_rtcp_ = 0;
  uint32_t frames_ = 0;
  uint32_t camera_cseq_ = 0;
  Clock::time_point next_request_;
};

QuirkRelay::~QuirkRelay() { Stop(); }

bool QuirkRelay::Start(const Config& config, std::string* error) {
  Stop();
  config_ = config;
  listener_ = ListenLoopback(config.port, 16, error);
  if (listener_ < 0) {
    Stop();
    return false;
  }
  port_ = BoundPort(listener_);
  stopping_ = false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void QuirkRelay::AcceptLoop() {
  while (!stopping_) {
    pollfd wait{listener_, POLLIN, 0};
    if (poll(&wait, 1, 50) <= 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    // Connections that ended are joined here, so a long-running camera does not pile them up.
    std::erase_if(connections_, [](Worker& worker) {
      if (!worker.done->load()) return false;
      worker.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, client, port = port_, done] {
      Connection(config_, port, client, stopping_).Run();
      *done = true;
    });
    connections_.push_back({std::move(thread), std::move(done)});
  }
}

void QuirkRelay::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::list<Worker> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (Worker& connection : connections) connection.thread.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

}  // namespace strandline::sim
