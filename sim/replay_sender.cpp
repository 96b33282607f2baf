#include "sim/replay_sender.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "sim/loopback_socket.h"

namespace strandline::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kPayloadType = 96;
constexpr size_t kInterleavedHeader = 4 + ReplayPackets::kRtpHeader;
// An interleaved client this far behind loses frames instead of making the camera hold them.
constexpr size_t kMaxWaiting = size_t{4} << 20;
constexpr size_t kBatch = 1024;  // the kernel's limit for one sendmmsg and one sendmsg's pieces
constexpr auto kReportInterval = std::chrono::seconds(5);
constexpr char kCname[] = "camera@127.0.0.1";

void Put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

void Put32(uint8_t* at, uint32_t value) {
  Put16(at, value >> 16);
  Put16(at + 2, value & 0xFFFF);
}

}  // namespace

struct ReplaySender::Session {
  Target target;
  uint32_t ssrc = 0;
  uint32_t ts_base = 0;
  std::atomic<bool> playing{false};
  std::atomic<uint16_t> seq{0};
  std::atomic<uint64_t> frames_sent{0};
  // The sender thread's alone.
  size_t frame = 0;
  uint32_t packets_sent = 0;
  uint32_t octets_sent = 0;
  uint32_t last_ts = 0;
  bool sent_any = false;
  Clock::time_point next_report{};
};

ReplayLink::~ReplayLink() { close(fd_); }

bool ReplayLink::FlushLocked() {
  while (!waiting_.empty()) {
    const ssize_t sent = send(fd_, waiting_.data(), waiting_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    if (sent <= 0) {
      broken_ = true;
      waiting_.clear();
      return false;
    }
    waiting_.erase(0, static_cast<size_t>(sent));
  }
  return true;
}

void ReplayLink::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  FlushLocked();
}

bool ReplayLink::Waiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !waiting_.empty();
}

bool ReplayLink::Send(std::string_view data) {
  const iovec piece{const_cast<char*>(data.data()), data.size()};
  return SendPieces(&piece, 1, false);
}

bool ReplayLink::SendPieces(const iovec* pieces, size_t count, bool droppable) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (broken_ || !FlushLocked()) return false;
  if (droppable && waiting_.size() > kMaxWaiting) return false;
  size_t done = 0;    // whole pieces sent
  size_t partly = 0;  // bytes sent of the next one
  while (waiting_.empty() && done < count) {
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(pieces + done);
    message.msg_iovlen = std::min(count - done, kBatch);
    const ssize_t sent = sendmsg(fd_, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    if (sent <= 0) {
      broken_ = true;
      return false;
    }
    auto left = static_cast<size_t>(sent);
    while (done < count && left >= pieces[done].iov_len) left -= pieces[done++].iov_len;
    if (left > 0) {
      partly = left;
      break;
    }
  }
  // The rest waits, copied, for the socket to take it.
  for (size_t i = done; i < count; ++i, partly = 0) {
    waiting_.append(static_cast<const char*>(pieces[i].iov_base) + partly, pieces[i].iov_len - partly);
  }
  return true;
}

void ReplayLink::Shutdown() {
  broken_ = true;
  shutdown(fd_, SHUT_RDWR);
}

ReplaySender::ReplaySender(std::shared_ptr<const ReplayPackets> packets, std::shared_ptr<std::atomic<bool>> frozen)
    : packets_(std::move(packets)), frozen_(std::move(frozen)) {}

ReplaySender::~ReplaySender() { End(); }

bool ReplaySender::Begin(std::string* error) {
  End();
  BindLoopbackUdpPair(&rtp_fd_, &rtcp_fd_, &rtp_port_);
  if (rtcp_fd_ < 0) {
    if (error) *error = std::string("cannot bind a UDP port pair for the replay: ") + std::strerror(errno);
    return false;
  }
  // Room for a tick of bursts to many sessions; the kernel caps it at wmem_max.
  const int size = 8 << 20;
  setsockopt(rtp_fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ReplaySender::End() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
  for (int* fd : {&rtp_fd_, &rtcp_fd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

std::shared_ptr<ReplaySender::Session> ReplaySender::Add(Target target) {
  static thread_local std::mt19937 random{std::random_device{}()};
  auto session = std::make_shared<Session>();
  session->target = std::move(target);
  session->ssrc = static_cast<uint32_t>(random());
  session->ts_base = static_cast<uint32_t>(random());
  session->seq = static_cast<uint16_t>(random());
  session->frame = packets_->first_key();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.push_back(session);
  return session;
}

ReplaySender::Start ReplaySender::StartOf(const Session& session) const {
  return {session.ssrc, session.seq.load(), TimestampOf(session)};
}

void ReplaySender::Play(const std::shared_ptr<Session>& session, bool playing) { session->playing = playing; }

void ReplaySender::Remove(const std::shared_ptr<Session>& session) {
  session->playing = false;
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(sessions_, session);
}

uint32_t ReplaySender::TimestampOf(const Session& session) const {
  const double ticks = static_cast<double>(session.frames_sent.load()) * 90000.0 / packets_->fps();
  return session.ts_base + static_cast<uint32_t>(static_cast<uint64_t>(std::llround(ticks)));
}

void ReplaySender::Run() {
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / packets_->fps()));
  Clock::time_point next = Clock::now();
  std::vector<char> drain(2048);
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (wake_.wait_until(lock, next, [this] { return stopping_; })) return;
    }
    // What clients send here (RTCP receiver reports, port probes) is not needed.
    for (int fd : {rtp_fd_, rtcp_fd_}) {
      for (int i = 0; i < 256 && recv(fd, drain.data(), drain.size(), MSG_DONTWAIT) >= 0; ++i) {
      }
    }
    Tick(Clock::now());
    next += period;
    // Behind by more than a few frames (a stalled machine): go on from now
    // instead of bursting, and leave the frames out as an encoder would, so
    // that RTP time keeps up with real time (and with the sender reports).
    const Clock::time_point now = Clock::now();
    if (now > next + 3 * period) {
      const auto missed = static_cast<uint64_t>((now - next) / period);
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& session : sessions_) {
        if (session->playing) session->frames_sent.fetch_add(missed);
      }
      next = now;
    }
  }
}

void ReplaySender::Tick(Clock::time_point now) {
  std::vector<std::shared_ptr<Session>> held;  // keeps sessions removed meanwhile alive to the tick's end
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.reserve(sessions_.size());
    for (const auto& session : sessions_) {
      if (session->playing) held.push_back(session);
    }
  }
  if (held.empty() || (frozen_ && frozen_->load())) return;
  playing_.clear();
  for (const auto& session : held) {
    if (!session->target.interleaved) playing_.push_back(session.get());
  }
  SendUdp(playing_);
  for (const auto& session : held) {
    if (session->target.interleaved) SendInterleaved(*session);
  }
  const auto& frames = packets_->frames();
  for (const auto& session : held) {
    Report(*session, now);
    session->frame = session->frame + 1 < frames.size() ? session->frame + 1 : packets_->first_key();
    session->frames_sent.fetch_add(1);
  }
}

void ReplaySender::SendUdp(const std::vector<Session*>& udp) {
  const auto& frames = packets_->frames();
  size_t total = 0;
  for (Session* session : udp) total += frames[session->frame].packet_count;
  if (total == 0) return;
  headers_.resize(total * ReplayPackets::kRtpHeader);
  pieces_.resize(total * 2);
  std::vector<mmsghdr> messages(total);
  size_t n = 0;
  for (Session* session : udp) {
    const ReplayPackets::Frame& frame = frames[session->frame];
    const uint32_t ts = TimestampOf(*session);
    uint16_t seq = session->seq;
    for (uint32_t p = 0; p < frame.packet_count; ++p, ++n) {
      const ReplayPackets::Packet& packet = packets_->packet(frame.first_packet + p);
      uint8_t* header = &headers_[n * ReplayPackets::kRtpHeader];
      header[0] = 0x80;
      header[1] = static_cast<uint8_t>((packet.marker ? 0x80 : 0) | kPayloadType);
      Put16(header + 2, seq++);
      Put32(header + 4, ts);
      Put32(header + 8, session->ssrc);
      const std::string_view payload = packets_->Payload(packet);
      pieces_[2 * n] = {header, ReplayPackets::kRtpHeader};
      pieces_[2 * n + 1] = {const_cast<char*>(payload.data()), payload.size()};
      messages[n] = {};
      messages[n].msg_hdr.msg_name = &session->target.rtp;
      messages[n].msg_hdr.msg_namelen = sizeof(sockaddr_in);
      messages[n].msg_hdr.msg_iov = &pieces_[2 * n];
      messages[n].msg_hdr.msg_iovlen = 2;
      session->octets_sent += static_cast<uint32_t>(payload.size());
    }
    session->seq = seq;
    session->packets_sent += frame.packet_count;
    session->last_ts = ts;
    session->sent_any = true;
  }
  for (size_t at = 0; at < total;) {
    const int sent = sendmmsg(rtp_fd_, &messages[at], static_cast<unsigned>(std::min(total - at, kBatch)), 0);
    if (sent < 0 && errno == EINTR) continue;
    // A datagram the kernel refuses (a client gone) is passed over, as a camera would.
    at += sent > 0 ? static_cast<size_t>(sent) : 1;
  }
}

void ReplaySender::SendInterleaved(Session& session) {
  const ReplayPackets::Frame& frame = packets_->frames()[session.frame];
  headers_.resize(frame.packet_count * kInterleavedHeader);
  pieces_.resize(frame.packet_count * 2);
  const uint32_t ts = TimestampOf(session);
  uint16_t seq = session.seq;
  uint32_t octets = 0;
  for (uint32_t p = 0; p < frame.packet_count; ++p) {
    const ReplayPackets::Packet& packet = packets_->packet(frame.first_packet + p);
    const std::string_view payload = packets_->Payload(packet);
    uint8_t* header = &headers_[p * kInterleavedHeader];
    header[0] = '$';
    header[1] = session.target.channel;
    Put16(header + 2, static_cast<uint32_t>(ReplayPackets::kRtpHeader + payload.size()));
    header[4] = 0x80;
    header[5] = static_cast<uint8_t>((packet.marker ? 0x80 : 0) | kPayloadType);
    Put16(header + 6, seq++);
    Put32(header + 8, ts);
    Put32(header + 12, session.ssrc);
    pieces_[2 * p] = {header, kInterleavedHeader};
    pieces_[2 * p + 1] = {const_cast<char*>(payload.data()), payload.size()};
    octets += static_cast<uint32_t>(payload.size());
  }
  // A frame the client has no room for is not sent, and takes no sequence numbers.
  if (!session.target.link->SendPieces(pieces_.data(), pieces_.size(), true)) return;
  session.seq = seq;
  session.packets_sent += frame.packet_count;
  session.octets_sent += octets;
  session.last_ts = ts;
  session.sent_any = true;
}

void ReplaySender::Report(Session& session, Clock::time_point now) {
  if (!session.sent_any || now < session.next_report) return;
  session.next_report = now + kReportInterval;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto fraction = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds).count();
  constexpr size_t kCnameLength = sizeof(kCname) - 1;
  constexpr size_t kSdesChunk = (4 + 2 + kCnameLength + 1 + 3) / 4 * 4;
  uint8_t report[4 + 28 + 4 + kSdesChunk] = {};
  uint8_t* sr = report + 4;
  sr[0] = 0x80;
  sr[1] = 200;
  Put16(sr + 2, 6);
  Put32(sr + 4, session.ssrc);
  Put32(sr + 8, static_cast<uint32_t>(seconds.count() + 2208988800LL));
  Put32(sr + 12, static_cast<uint32_t>((static_cast<uint64_t>(fraction) << 32) / 1000000000ULL));
  Put32(sr + 16, session.last_ts);
  Put32(sr + 20, session.packets_sent);
  Put32(sr + 24, session.octets_sent);
  uint8_t* sdes = sr + 28;
  sdes[0] = 0x81;
  sdes[1] = 202;
  Put16(sdes + 2, static_cast<uint32_t>(kSdesChunk / 4));
  Put32(sdes + 4, session.ssrc);
  sdes[8] = 1;
  sdes[9] = static_cast<uint8_t>(kCnameLength);
  std::memcpy(sdes + 10, kCname, kCnameLength);
  const size_t length = sizeof(report) - 4;
  if (session.target.interleaved) {
    report[0] = '$';
    report[1] = static_cast<uint8_t>(session.target.channel + 1);
    Put16(report + 2, static_cast<uint32_t>(length));
    session.target.link->SendPieces(std::array<iovec, 1>{iovec{report, sizeof(report)}}.data(), 1, true);
  } else {
    sendto(rtcp_fd_, report + 4, length, 0, reinterpret_cast<const sockaddr*>(&session.target.rtcp),
           sizeof(sockaddr_in));
  }
}

}  // namespace strandline::sim
