#include "sim/replay_front.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <vector>

#include "sim/loopback_socket.h"
#include "sim/rtsp_quirk_text.h"

namespace strandline::sim {
namespace {

constexpr size_t kMaxRequest = 65536;

std::string Base(uint16_t port) { return "rtsp://127.0.0.1:" + std::to_string(port); }

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08X", value);
  return text;
}

std::string WithParameter(const std::string& transport, std::string_view name, const std::string& value) {
  if (!TransportParameter(transport, name).empty()) return WithTransportParameter(transport, name, value);
  return transport + ";" + std::string(name) + "=" + value;
}

}  // namespace

class ReplayFront::Connection {
 public:
  Connection(int client, int upstream, uint16_t public_port, uint16_t upstream_port, ReplaySender& sender)
      : link(std::make_shared<ReplayLink>(client)),
        upstream(upstream),
        public_base_(Base(public_port)),
        upstream_base_(Base(upstream_port)),
        sender_(sender) {}
  ~Connection() {
    if (session_) sender_.Remove(session_);
    link->Shutdown();
    close(upstream);
  }

  // Reads what arrived on one side; false once the connection is over.
  bool Read(bool from_client) {
    char buffer[16384];
    const ssize_t got = recv(from_client ? link->fd() : upstream, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (got <= 0) return false;
    (from_client ? from_client_ : from_upstream_).append(buffer, static_cast<size_t>(got));
    if (from_client) {
      FromClient();
    } else {
      FromUpstream();
    }
    return open_ && !link->Broken();
  }

  const std::shared_ptr<ReplayLink> link;
  const int upstream;

 private:
  struct Pending {
    std::string method;
    bool video_setup = false;  // a SETUP the sender takes when it succeeds
    std::string url;           // its public URL
    std::string local;         // an answer of our own, sent in its turn
  };

  // A binary frame at the front of text: its length, 0 while incomplete.
  static size_t FrameExtent(const std::string& text) {
    if (text.size() < 4) return 0;
    const size_t length = static_cast<uint8_t>(text[2]) << 8 | static_cast<uint8_t>(text[3]);
    return text.size() < 4 + length ? 0 : 4 + length;
  }

  void FromClient() {
    while (open_ && !from_client_.empty()) {
      if (from_client_[0] == '\r' || from_client_[0] == '\n') {
        from_client_.erase(0, 1);
      } else if (from_client_[0] == '$') {
        const size_t extent = FrameExtent(from_client_);
        if (extent == 0) return;
        // The client's RTCP matters only to a server that streams.
        if (passthrough_) open_ = SendAll(upstream, std::string_view(from_client_).substr(0, extent));
        from_client_.erase(0, extent);
      } else {
        const size_t extent = RtspMessage::Extent(from_client_);
        if (extent == 0) {
          if (from_client_.size() > kMaxRequest) open_ = false;
          return;
        }
        RtspMessage message = RtspMessage::Parse(std::string_view(from_client_).substr(0, extent));
        from_client_.erase(0, extent);
        if (!message.start.starts_with("RTSP/")) Request(std::move(message));
      }
    }
  }

  void Request(RtspMessage request) {
    const std::string method = request.start.substr(0, request.start.find(' '));
    const size_t uri_at = request.start.find(' ') + 1;
    const std::string url = request.start.substr(uri_at, request.start.find(' ', uri_at) - uri_at);
    const std::string* session = request.Get("Session");
    const bool ours = !passthrough_ && session_ && session && SessionIdOf(*session) == session_id_;
    if (ours && (method == "PLAY" || method == "PAUSE")) {
      const bool play = method == "PLAY";
      const ReplaySender::Start start = sender_.StartOf(*session_);
      const std::string* cseq = request.Get("CSeq");
      std::string text =
          "RTSP/1.0 200 OK\r\nCSeq: " + (cseq ? *cseq : std::string("0")) + "\r\nSession: " + session_header_ + "\r\n";
      if (play) {
        text += "Range: npt=now-\r\nRTP-Info: url=" + control_ + ";seq=" + std::to_string(start.seq) +
                ";rtptime=" + std::to_string(start.rtptime) + "\r\n";
      }
      Local(text + "\r\n");
      sender_.Play(session_, play);
      return;
    }
    Pending pending;
    pending.method = method;
    if (method == "SETUP") SetUp(request, url, &pending);
    if (method == "TEARDOWN" && ours) {
      sender_.Remove(session_);
      session_.reset();
    }
    ReplaceAll(request.start, public_base_, upstream_base_);
    pending_.push_back(std::move(pending));
    open_ = open_ && SendAll(upstream, request.Text());
  }

  // The video of a unicast session is the sender's; anything more on this
  // connection makes it the server's again.
  void SetUp(const RtspMessage& request, const std::string& url, Pending* pending) {
    const std::string* transport = request.Get("Transport");
    const std::string ports = transport ? TransportParameter(*transport, "client_port") : "";
    const std::string channels = transport ? TransportParameter(*transport, "interleaved") : "";
    const std::string path = url.starts_with(public_base_) ? url.substr(public_base_.size()) : url;
    const bool video = path.ends_with("/stream=0") && !path.starts_with("/playback") && transport &&
                       transport->find("multicast") == std::string::npos && (!ports.empty() || !channels.empty());
    if (passthrough_ || session_ || !video) {
      passthrough_ = true;
      if (session_) sender_.Remove(session_);
      session_.reset();
      return;
    }
    target_ = {};
    target_.interleaved = !channels.empty();
    target_.link = link;
    target_.channel = static_cast<uint8_t>(std::atoi(channels.c_str()));
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    getpeername(link->fd(), reinterpret_cast<sockaddr*>(&peer), &length);
    target_.rtp = peer;
    target_.rtp.sin_port = htons(static_cast<uint16_t>(std::atoi(ports.c_str())));
    target_.rtcp = target_.rtp;
    const size_t dash = ports.find('-');
    target_.rtcp.sin_port = htons(static_cast<uint16_t>(
        dash == std::string::npos ? std::atoi(ports.c_str()) + 1 : std::atoi(ports.c_str() + dash + 1)));
    pending->video_setup = true;
    pending->url = url;
  }

  void Local(std::string text) {
    if (pending_.empty()) {
      link->Send(text);
    } else {
      pending_.push_back({"", false, "", std::move(text)});
    }
  }

  void FromUpstream() {
    while (open_ && !from_upstream_.empty()) {
      if (from_upstream_[0] == '$') {
        const size_t extent = FrameExtent(from_upstream_);
        if (extent == 0) return;
        const iovec piece{from_upstream_.data(), extent};
        link->SendPieces(&piece, 1, true);
        from_upstream_.erase(0, extent);
        continue;
      }
      const size_t extent = RtspMessage::Extent(from_upstream_);
      if (extent == 0) {
        if (from_upstream_.size() > kMaxRequest) open_ = false;
        return;
      }
      RtspMessage answer = RtspMessage::Parse(std::string_view(from_upstream_).substr(0, extent));
      from_upstream_.erase(0, extent);
      Response(std::move(answer));
    }
  }

  void Response(RtspMessage answer) {
    Pending pending;
    if (answer.start.starts_with("RTSP/") && !pending_.empty()) {
      pending = std::move(pending_.front());
      pending_.pop_front();
    }
    for (auto& header : answer.headers) ReplaceAll(header.second, upstream_base_, public_base_);
    ReplaceAll(answer.body, upstream_base_, public_base_);
    const bool ok = answer.start.find(" 200 ") != std::string::npos;
    const std::string* session = answer.Get("Session");
    if (pending.video_setup && ok && session && !passthrough_) {
      session_header_ = *session;
      session_id_ = SessionIdOf(*session);
      control_ = pending.url;
      session_ = sender_.Add(target_);
      std::string transport = answer.Get("Transport") ? *answer.Get("Transport") : "";
      if (!target_.interleaved) {
        const uint16_t port = sender_.RtpPort();
        transport = WithParameter(transport, "server_port", std::to_string(port) + "-" + std::to_string(port + 1));
      }
      answer.Set("Transport", WithParameter(transport, "ssrc", Hex32(sender_.StartOf(*session_).ssrc)));
    }
    link->Send(answer.Text());
    while (!pending_.empty() && !pending_.front().local.empty()) {
      link->Send(pending_.front().local);
      pending_.pop_front();
    }
  }

  std::string from_client_;
  std::string from_upstream_;
  bool open_ = true;
  const std::string public_base_;
  const std::string upstream_base_;
  ReplaySender& sender_;
  std::deque<Pending> pending_;  // requests the server has yet to answer, and our answers after them
  ReplaySender::Target target_;
  bool passthrough_ = false;
  std::shared_ptr<ReplaySender::Session> session_;
  std::string session_header_;
  std::string session_id_;
  std::string control_;
};

ReplayFront::~ReplayFront() { Stop(); }

bool ReplayFront::Start(const Config& config, std::string* error) {
  Stop();
  config_ = config;
  listener_ = ListenLoopback(config.port, 512, error);
  if (listener_ < 0) {
    Stop();
    return false;
  }
  port_ = BoundPort(listener_);
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ReplayFront::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

void ReplayFront::Run() {
  std::list<Connection> connections;
  std::vector<pollfd> fds;
  std::vector<Connection*> owners;
  while (!stopping_) {
    fds.assign(1, {listener_, POLLIN, 0});
    owners.assign(1, nullptr);
    for (Connection& c : connections) {
      fds.push_back({c.link->fd(), static_cast<short>(POLLIN | (c.link->Waiting() ? POLLOUT : 0)), 0});
      fds.push_back({c.upstream, POLLIN, 0});
      owners.push_back(&c);
      owners.push_back(&c);
    }
    if (poll(fds.data(), fds.size(), 100) <= 0) continue;
    std::vector<Connection*> ended;
    for (size_t i = 1; i < fds.size(); ++i) {
      Connection* c = owners[i];
      const short events = fds[i].revents;
      if (!events || (!ended.empty() && ended.back() == c)) continue;
      const bool client = i % 2 == 1;
      if (client && (events & POLLOUT)) c->link->Flush();
      if ((events & (POLLIN | POLLHUP | POLLERR)) && !c->Read(client)) ended.push_back(c);
    }
    for (Connection* c : ended) {
      connections.remove_if([c](const Connection& each) { return &each == c; });
    }
    if (fds[0].revents & POLLIN) {
      const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in server = LoopbackAddress(config_.upstream_port);
      if (upstream < 0 || connect(upstream, reinterpret_cast<const sockaddr*>(&server), sizeof(server)) != 0) {
        close(client);
        if (upstream >= 0) close(upstream);
        continue;
      }
      const timeval limit{5, 0};
      setsockopt(upstream, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
      connections.emplace_back(client, upstream, port_, config_.upstream_port, *config_.sender);
    }
  }
}

}  // namespace strandline::sim
