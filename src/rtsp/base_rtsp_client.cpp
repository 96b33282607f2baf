#include "rtsp/base_rtsp_client.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/random_bytes.h"
#include "platform/socket_utils.h"
#include "rtsp/base64.h"
#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_stream_parser.h"
#include "rtsp/rtsp_text.h"
#include "runtime/debug_message.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr const char* kVersion = "RTSP/1.0\r\n";
constexpr const char* kUserAgent = "User-Agent: Orbisan\r\n";
constexpr size_t kReceiveBuffer = 65536;  // an HD key frame arrives in few reads
constexpr uint32_t kStopReceiveTimeoutMs = 100;
constexpr uint32_t kPollSliceMs = 50;
constexpr uint32_t kMinWaitMs = 50;

// Text that may stand in a request line or a header value: no line break or
// other control character that would end it early or add a header.
bool FitsInHeader(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// Text that may stand inside a quoted header parameter as well.
bool FitsInQuotes(std::string_view text) { return FitsInHeader(text) && text.find('"') == std::string_view::npos; }

// Every line of a composed request ends with CR LF and holds no other line
// break: camera texts (content base, control, session) cannot add lines.
bool WellFormedRequest(std::string_view request) {
  size_t start = 0;
  for (size_t end; (end = request.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
    if (!FitsInHeader(request.substr(start, end - start))) return false;
  }
  return start == request.size();
}

const char* MethodName(uint32_t kind) {
  switch (kind) {
    case kRtspDescribe:
      return "DESCRIBE";
    case kRtspSetup:
      return "SETUP";
    case kRtspPlay:
      return "PLAY";
    case kRtspTeardown:
      return "TEARDOWN";
    case kRtspOptions:
      return "OPTIONS";
    case kRtspPause:
      return "PAUSE";
    case kRtspGetParameter:
      return "GET_PARAMETER";
    default:
      return nullptr;
  }
}

constexpr uint32_t kMaxRedirects = 3;
constexpr size_t kMaxLostCSeqs = 8;

bool IsRedirect(uint32_t status) { return status == 301 || status == 302 || status == 303 || status == 307; }

bool IsKeepAlive(uint32_t kind) { return kind == kRtspOptions || kind == kRtspGetParameter; }

// Host of an rtsp URL (lower case, without user information and port).
std::string UrlHost(const std::string& url) {
  const size_t start = url.find("://") == std::string::npos ? 0 : url.find("://") + 3;
  std::string authority = url.substr(start, url.find_first_of("/?", start) - start);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  return ToLower(authority.substr(0, authority.find(':')));
}

// Where the path of an rtsp URL starts (its length when it has none).
size_t PathStart(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? url.size() : slash;
}

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDebugMessage* driver) : CBaseThread(driver), driver_(driver) {
  stream_.SetAnswerSink([this](std::string_view text, bool complete) { AnswerArrived(text, complete); });
  stream_.SetRtcpSink([this](const uint8_t* data, size_t length) { RtcpArrived(data, length); });
  stream_.SetRequestSink([this](std::string_view text) { CameraRequestArrived(text); });
}

CBaseRTSPClient::~CBaseRTSPClient() { Stop(); }

void CBaseRTSPClient::SetClock(Clock clock) {
  std::lock_guard<std::mutex> lock(clockMutex_);
  clock_ = std::move(clock);
}

uint64_t CBaseRTSPClient::Now() {
  std::lock_guard<std::mutex> lock(clockMutex_);
  return clock_ ? clock_() : SteadyMs();
}

void CBaseRTSPClient::LogError(const char* method, const char* what) {
  if (driver_ == nullptr) return;
  const std::string device = driver_->GetDeviceName();
  driver_->DebugMessage(kLogError, "orbisan::CBaseRTSPClient::%s: %s, device %s", method, what, device.c_str());
}

bool CBaseRTSPClient::CredentialsUsable() {
  // Digest quotes the user name, and neither scheme can carry a line break.
  if (FitsInQuotes(params_.userName) && FitsInQuotes(params_.password)) return true;
  LogError("Start",
           "The user name or password contains a line break, control character or quote and cannot be sent in an "
           "RTSP Authorization header; the session is not started");
  return false;
}

bool CBaseRTSPClient::StartMulticast(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user) {
  return StartSession(params, user, kRtpOverUdp, true);
}

bool CBaseRTSPClient::Start(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user, uint32_t transportMode) {
  return StartSession(params, user, transportMode, false);
}

bool CBaseRTSPClient::StartSession(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user, uint32_t transportMode,
                                   bool multicast) {
  {
    std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
    // Every start says which kind of session it is: a client reused after
    // a multicast session must not keep asking for multicast.
    multicast_ = multicast;
    parser_.Reset();
    stream_.Reset();
    rtcp_.Clear();
    rtcpReporting_ = false;
    answerArrived_ = false;
    answer_.clear();
    peerClosed_ = false;
    keepAliveMethod_.store(kRtspOptions);
    refusedKeepAlives_ = 0;
    redirectUrl_.clear();
    alternateTrackUrl_ = false;
    lostCSeqs_.clear();
    params_ = params;
    user_ = user;
    transportMode_ = transportMode;
    receiveTimeoutMs_.store(params.receiveTimeoutMs);
    sendTimeoutMs_.store(params.sendTimeoutMs);
  }
  if (!CredentialsUsable()) {
    Stop();
    return false;
  }
  if (!Connect()) {
    const int error = errno;
    if (user != nullptr) user->SessionFailed(kRtspConnect, 0, error, std::string());
    Stop();
    return false;
  }
  const std::string device = driver_ ? driver_->GetDeviceName() : std::string();
  if (!StartThread(Format("RTSP Client Thread (%s)", device.c_str()))) {
    Stop();
    return false;
  }
  return true;
}

bool CBaseRTSPClient::Connect() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  if (!SetReceiveBufferSize(fd, params_.receiveBufferSize) || !SetReceiveTimeoutMs(fd, params_.receiveTimeoutMs) ||
      !SetSendTimeoutMs(fd, params_.sendTimeoutMs)) {
    orbisan::CloseSocket(fd);
    return false;
  }
  in_addr address{};
  if (!ResolveIPv4(params_.host, address)) {
    orbisan::CloseSocket(fd);
    return false;
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_addr = address;
  server.sin_port = htons(params_.serverPort);
  if (!ConnectWithTimeout(fd, server, params_.connectTimeoutMs)) {
    orbisan::CloseSocket(fd);
    return false;
  }
  socket_.store(fd);
  return true;
}

void CBaseRTSPClient::CloseSocket() {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  int fd = socket_.exchange(-1);
  orbisan::CloseSocket(fd);
}

void CBaseRTSPClient::Stop() {
  const uint32_t waitMs = std::max(receiveTimeoutMs_.load(), sendTimeoutMs_.load()) * 2 + 1000;
  const int fd = socket_.load();
  if (fd >= 0) {
    // A receive in progress sees the shorter time-out within one poll slice.
    receiveTimeoutMs_.store(kStopReceiveTimeoutMs);
    SetReceiveTimeoutMs(fd, kStopReceiveTimeoutMs);
  }
  StopThread(waitMs);
  CloseSocket();
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  lastKeepAliveCheck_ = 0;
  user_ = nullptr;
}

std::string CBaseRTSPClient::Authority() {
  return Format("rtsp://%s:%u", params_.host.c_str(), static_cast<unsigned>(params_.serverPort));
}

std::string CBaseRTSPClient::AbsoluteUrl(const std::string& text) {
  std::string url = Trim(text);
  // "rtsp://rtsp://cam/live/" and "RTSP://cam/live/" from sloppy firmware.
  while (ToLower(url).rfind("rtsp://rtsp://", 0) == 0) url.erase(0, 7);
  if (ToLower(url).rfind("rtsp://", 0) == 0) return "rtsp://" + url.substr(7);
  if (url.empty()) return url;
  if (url.front() == '/') return Authority() + url;
  // "10.0.0.5:554/live/" names a host; "live/" is a path on ours.
  const std::string first = ToLower(url.substr(0, url.find('/')));
  const bool host = first.find_first_of(".:") != std::string::npos || first == ToLower(params_.host);
  return host ? "rtsp://" + url : Authority() + "/" + url;
}

std::string CBaseRTSPClient::GetBaseUrl() {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  // The camera's own word on where the session lives, then where DESCRIBE
  // was answered.
  if (!parser_.GetContentBase().empty()) return AbsoluteUrl(parser_.GetContentBase());
  if (!parser_.GetContentLocation().empty()) return AbsoluteUrl(parser_.GetContentLocation());
  if (!redirectUrl_.empty()) return redirectUrl_;
  std::string url = Authority() + "/";
  if (params_.urlForm == 1) {
    url += Format("track%u", params_.trackIndex + 1);
  } else {
    const size_t first = params_.path.find_first_not_of('/');
    if (first != std::string::npos) url += params_.path.substr(first);
  }
  return url;
}

std::string CBaseRTSPClient::GetTrackUrl() {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  const SDP_SESSION_INFO& info = parser_.GetSessionInfo();
  const SDP_MEDIA_INFO& media =
      params_.mediaKind == 2 ? info.audio : (params_.mediaKind == 3 ? info.metadata : info.video);
  const std::string& control = media.control;
  // An absolute control is the request URL as it stands, also when it names
  // another address: it is sent on this connection, never connected to.
  if (control.find("://") != std::string::npos) return AbsoluteUrl(control);
  std::string url = GetBaseUrl();
  if (control.empty() || control == "*") return url;
  // Joined as text, so that a base with a query string keeps it.
  const std::string joined = (!url.empty() && url.back() == '/' ? url.substr(0, url.size() - 1) : url) +
                             (control.front() == '/' ? "" : "/") + control;
  if (control.front() != '/') return joined;
  // An absolute path replaces the base's path; cameras that mean it
  // relative to the base get the joined form when SETUP is refused.
  const std::string resolved = url.substr(0, PathStart(url)) + control;
  return alternateTrackUrl_ ? joined : resolved;
}

std::string CBaseRTSPClient::AuthorizationHeader(const char* method) {
  if (params_.authScheme == kAuthBasic) {
    return "Authorization: Basic " + EncodeBase64(params_.userName + ":" + params_.password) + "\r\n";
  }
  if (params_.authScheme == kAuthDigest) {
    const std::string uri = GetBaseUrl();
    const std::string& realm = parser_.GetRealm();
    const std::string& nonce = parser_.GetNonce();
    if (realm.empty() || nonce.empty() || params_.userName.empty() || params_.password.empty() || uri.empty()) {
      return {};
    }
    if (!FitsInQuotes(uri)) return {};
    DigestRequest request;
    request.algorithm = parser_.GetDigestAlgorithm();
    request.realm = realm;
    request.nonce = nonce;
    request.method = method;
    request.uri = uri;
    request.qopAuth = parser_.GetQopAuth();
    const bool session =
        request.algorithm == DigestAlgorithm::kMd5Sess || request.algorithm == DigestAlgorithm::kSha256Sess;
    if (request.qopAuth || session) {
      uint8_t random[16];
      RandomBytes16(random);
      for (const uint8_t byte : random) request.cnonce += Format("%02x", byte);
    }
    // The count runs per nonce so that the camera can tell a replayed request.
    if (nonce != countedNonce_) {
      countedNonce_ = nonce;
      nonceCount_ = 0;
    }
    request.nonceCount = ++nonceCount_;
    const std::string response = DigestResponse(params_.userName, params_.password, request);
    if (response.empty()) return {};
    std::string header = Format("Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", ",
                                params_.userName.c_str(), realm.c_str(), nonce.c_str(), uri.c_str());
    // MD5 is what a header without the parameter means; naming it anyway
    // trips cameras that compare the parameters strictly.
    if (request.algorithm != DigestAlgorithm::kMd5) {
      header += Format("algorithm=%s, ", DigestAlgorithmName(request.algorithm));
    }
    if (request.qopAuth) header += "qop=auth, nc=" + NonceCountText(request.nonceCount) + ", ";
    if (!request.cnonce.empty()) header += "cnonce=\"" + request.cnonce + "\", ";
    header += Format("response=\"%s\"", response.c_str());
    if (!parser_.GetOpaque().empty()) header += ", opaque=\"" + parser_.GetOpaque() + "\"";
    return header + "\r\n";
  }
  return {};
}

std::string CBaseRTSPClient::ComposeRequest(uint32_t kind) {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  std::string request = ComposeText(kind);
  if (!request.empty() && !WellFormedRequest(request)) {
    LogError(MethodName(kind), "A camera text (content base, control or session) holds a line break; request not sent");
    request.clear();
  }
  return request;
}

std::string CBaseRTSPClient::ComposeText(uint32_t kind) {
  const char* method = MethodName(kind);
  if (method == nullptr) return {};
  const std::string base = GetBaseUrl();
  const std::string cseq = Format("CSeq: %u\r\n", parser_.GetCSeq());
  const std::string authorization = AuthorizationHeader(method);
  sentAuthorization_ = !authorization.empty();
  const std::string session =
      parser_.GetSessionId().empty() ? std::string() : Format("Session: %s\r\n", parser_.GetSessionId().c_str());
  const std::string range = "Range: " + (params_.range.empty() ? std::string("npt=0.000-") : params_.range) + "\r\n";

  switch (kind) {
    case kRtspDescribe:
      return Format("DESCRIBE %s %s%s%s%s%s\r\n", base.c_str(), kVersion, cseq.c_str(), authorization.c_str(),
                    kUserAgent, "Accept: application/sdp\r\n");
    case kRtspSetup: {
      const SDP_SESSION_INFO& info = parser_.GetSessionInfo();
      const SDP_MEDIA_INFO& media =
          params_.mediaKind == 2 ? info.audio : (params_.mediaKind == 3 ? info.metadata : info.video);
      std::string profile = media.transportProtocol;
      if (profile.empty() || profile == "RTP/AVP") {
        profile = transportMode_ == kRtpOverUdp ? "RTP/AVP/UDP" : "RTP/AVP/TCP";
      }
      std::string transport;
      if (transportMode_ == kRtpInterleaved) {
        transport = ";unicast;interleaved=0-1";
      } else if (transportMode_ == kRtpOverUdp && multicast_) {
        transport = Format(";multicast;client_port=%u-%u", static_cast<unsigned>(media.port),
                           static_cast<unsigned>(media.port) + 1);
      } else {
        transport = Format(";unicast;client_port=%u-%u", static_cast<unsigned>(params_.clientRtpPort),
                           static_cast<unsigned>(params_.clientRtcpPort));
      }
      const std::string transportHeader = "Transport: " + profile + transport + "\r\n";
      const std::string blockSize = params_.blockSize > 100 ? Format("Blocksize: %u\r\n", params_.blockSize) : "";
      return Format("SETUP %s %s%s%s%s%s%s\r\n", GetTrackUrl().c_str(), kVersion, cseq.c_str(), authorization.c_str(),
                    kUserAgent, transportHeader.c_str(), blockSize.c_str());
    }
    case kRtspPlay:
      return Format("PLAY %s %s%s%s%s%s%s\r\n", base.c_str(), kVersion, cseq.c_str(), authorization.c_str(), kUserAgent,
                    session.c_str(), range.c_str());
    case kRtspTeardown:
      return Format("TEARDOWN %s %s%s%s%s%s\r\n", base.c_str(), kVersion, cseq.c_str(), authorization.c_str(),
                    kUserAgent, session.c_str());
    case kRtspOptions:
      return Format("OPTIONS %s %s%s%s%s%s\r\n", base.c_str(), kVersion, cseq.c_str(), authorization.c_str(),
                    kUserAgent, session.c_str());
    case kRtspPause:
      return Format("PAUSE %s %s%s%s%s%s%s\r\n", base.c_str(), kVersion, cseq.c_str(), authorization.c_str(),
                    kUserAgent, session.c_str(), range.c_str());
    case kRtspGetParameter:
      return Format("GET_PARAMETER %s %s%s%s%s%s\r\n", base.c_str(), kVersion, cseq.c_str(), authorization.c_str(),
                    kUserAgent, session.c_str());
    default:
      return {};
  }
}

bool CBaseRTSPClient::SendAll(const std::string& text) {
  const int fd = socket_.load();
  if (fd < 0 || text.empty()) return false;
  const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  return sent == static_cast<ssize_t>(text.size());
}

void CBaseRTSPClient::AnswerArrived(std::string_view text, bool complete) {
  uint32_t cseq = 0;
  if (complete && CRTSPResponseParser::ReadCSeq(text, cseq) && cseq != parser_.GetCSeq()) {
    // A late answer to a request that timed out is not ours; any other
    // number is a camera counting its own way, and the answer is ours.
    const auto lost = std::find(lostCSeqs_.begin(), lostCSeqs_.end(), cseq);
    if (lost != lostCSeqs_.end()) {
      lostCSeqs_.erase(lost);
      return;
    }
  }
  answerArrived_ = true;
  answerComplete_ = complete;
  answer_.assign(text);
}

void CBaseRTSPClient::CameraRequestArrived(std::string_view text) {
  const std::string method(text.substr(0, text.find(' ')));
  // Cameras ask whether the client is still there; nothing else is served.
  const bool known = method == "OPTIONS" || method == "GET_PARAMETER";
  std::string answer = known ? "RTSP/1.0 200 OK\r\n" : "RTSP/1.0 501 Not Implemented\r\n";
  uint32_t cseq = 0;
  if (CRTSPResponseParser::ReadCSeq(text, cseq)) answer += Format("CSeq: %u\r\n", cseq);
  if (method == "OPTIONS") answer += "Public: OPTIONS, GET_PARAMETER\r\n";
  const std::string& session = parser_.GetSessionId();
  if (!session.empty()) answer += "Session: " + session + "\r\n";
  if (WellFormedRequest(answer)) SendAll(answer + "\r\n");
}

void CBaseRTSPClient::RtpArrived(const CRTPPacket& packet) {
  rtcp_.CountPacket(packet.GetSequenceNumber());
  if (user_ == nullptr || IsStopping()) return;
  try {
    user_->RtpPacketReceived(packet);
  } catch (...) {
  }
}

void CBaseRTSPClient::SendRtcpFrame(const uint8_t* data, size_t length) {
  std::string frame = {'$', static_cast<char>(stream_.GetChannel() + 1), static_cast<char>(length >> 8),
                       static_cast<char>(length & 0xFF)};
  frame.append(reinterpret_cast<const char*>(data), length);
  SendAll(frame);
}

void CBaseRTSPClient::RtcpArrived(const uint8_t* data, size_t length) {
  const uint32_t seen = rtcp_.ReadCompound(data, length, TickCountMs());
  if (seen & CRTCPReportState::kSawBye) rtcpReporting_ = false;
  if ((seen & CRTCPReportState::kSawSenderReport) == 0) return;
  rtcpReporting_ = true;
  uint8_t report[CRTCPReportState::kReceiverReportSize];
  rtcp_.BuildReceiverReport(TickCountMs(), report);
  SendRtcpFrame(report, sizeof report);
}

bool CBaseRTSPClient::PumpOnce(uint32_t waitMs) {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  const int fd = socket_.load();
  if (fd < 0 || peerClosed_) return false;
  pollfd pfd{fd, POLLIN, 0};
  const int ready = poll(&pfd, 1, static_cast<int>(waitMs));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return true;
  if (!receiveBuffer_) receiveBuffer_.reset(new uint8_t[kReceiveBuffer]);
  const ssize_t received = ready > 0 ? recv(fd, receiveBuffer_.get(), kReceiveBuffer, 0) : -1;
  if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  if (received <= 0) {
    peerClosed_ = true;
    return false;
  }
  stream_.Feed(receiveBuffer_.get(), static_cast<size_t>(received));
  return true;
}

bool CBaseRTSPClient::AwaitAnswer(uint32_t kind, std::string& answer) {
  const uint64_t start = SteadyMs();
  for (;;) {
    if (answerArrived_) {
      answerArrived_ = false;
      if (!answerComplete_) {
        LogError(MethodName(kind), "The camera's answer is larger than 64 KiB and was not read");
        return false;
      }
      answer.swap(answer_);
      return true;
    }
    if (kind != kRtspTeardown && IsStopping()) return false;
    // The budget covers the whole answer, so that a camera trickling bytes
    // cannot hold the session (or a stop) for longer; Stop shortens it.
    const uint64_t elapsed = SteadyMs() - start;
    const uint32_t budget = receiveTimeoutMs_.load();
    if (elapsed >= budget) return false;
    if (!PumpOnce(static_cast<uint32_t>(std::min<uint64_t>(kPollSliceMs, budget - elapsed)))) return false;
  }
}

uint32_t CBaseRTSPClient::StreamIdle() {
  if (!interleaving_.load() || user_ == nullptr || IsStopping()) return 0;
  try {
    return user_->StreamIdle();
  } catch (...) {
    return 0;
  }
}

int32_t CBaseRTSPClient::PumpUntilEvent(CEvent* const events[], uint32_t count, uint32_t waitMs) {
  const uint64_t start = SteadyMs();
  uint32_t dueMs = 0;
  for (;;) {
    const int32_t which = CEvent::WaitForAny(events, count, 0);
    if (which >= 0) return which;
    const uint64_t elapsed = SteadyMs() - start;
    if (elapsed >= waitMs) return -1;
    const uint32_t left = static_cast<uint32_t>(waitMs - elapsed);
    // A picture held for the packet after it ends when its wait does, not
    // at the next slice (the first frame of a session is one of them).
    const uint32_t slice = std::min(kPollSliceMs, left);
    if (!PumpOnce(dueMs != 0 ? std::min(dueMs, slice) : slice)) {
      // The connection is gone: nothing more to read, only events to wait for.
      return CEvent::WaitForAny(events, count, left);
    }
    dueMs = StreamIdle();
  }
}

bool CBaseRTSPClient::Exchange(uint32_t kind) {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  if (socket_.load() < 0 || peerClosed_) return false;
  parser_.NextCSeq();
  const std::string request = ComposeRequest(kind);
  answerArrived_ = false;
  if (request.empty() || !SendAll(request)) return false;
  std::string answer;
  const bool answered = AwaitAnswer(kind, answer);
  answerStatus_ = 0;
  if (!answered) {
    if (lostCSeqs_.size() == kMaxLostCSeqs) lostCSeqs_.erase(lostCSeqs_.begin());
    lostCSeqs_.push_back(parser_.GetCSeq());
    return false;
  }
  const bool parsed = parser_.Parse(answer, kind);
  answerStatus_ = parser_.GetStatusCode();
  if (!parsed) return false;
  // The camera's channel pair, whatever was asked for.
  if (kind == kRtspSetup) stream_.SetChannel(parser_.GetInterleavedChannel());
  return true;
}

bool CBaseRTSPClient::ChallengeRenewed() {
  if (parser_.GetAuthScheme() != params_.authScheme) return true;
  if (!sentAuthorization_) return false;
  return parser_.GetStale() || (params_.authScheme == kAuthDigest && parser_.GetNonce() != countedNonce_);
}

bool CBaseRTSPClient::FollowRedirect(std::string& problem) {
  const uint32_t status = parser_.GetStatusCode();
  const std::string url = AbsoluteUrl(parser_.GetLocation());
  // The recorder talks to the camera it was given: credentials, the CGI
  // set-up and the RTP source check all belong to that address.
  if (UrlHost(url) != ToLower(params_.host)) {
    problem = Format("the camera answered %u to a host we do not follow (%s)", status, url.c_str());
    return false;
  }
  const size_t portAt = url.find(':', url.find("://") + 3);
  const size_t pathAt = PathStart(url);
  uint16_t port = 554;
  if (portAt < pathAt) port = ParsePort(url.substr(portAt + 1, pathAt - portAt - 1));
  if (port == 0) {
    problem = Format("the camera answered %u with a Location that does not read (%s)", status, url.c_str());
    return false;
  }
  // Cameras often close the connection after a redirect: a new one.
  CloseSocket();
  peerClosed_ = false;
  stream_.Reset();
  params_.serverPort = port;
  if (IsStopping() || !Connect()) {
    problem = Format("the camera answered %u and %s did not take a connection", status, url.c_str());
    return false;
  }
  redirectUrl_ = url;
  parser_.ForgetBase();
  return true;
}

bool CBaseRTSPClient::Request(uint32_t kind) {
  if (kind != kRtspTeardown && IsStopping()) return false;
  std::unique_lock<std::recursive_mutex> lock(exchangeMutex_);
  bool ok = Exchange(kind);
  std::string problem;
  bool authRetried = false;
  bool setupRetried = false;
  uint32_t redirects = 0;
  while (ok) {
    const uint32_t status = parser_.GetStatusCode();
    if (status == 401 && !authRetried && ChallengeRenewed()) {
      // One more try after a refusal when the camera asks for another
      // scheme or renewed its nonce (stale, or a new one on a keep-alive).
      authRetried = true;
      params_.authScheme = parser_.GetAuthScheme();
      ok = Exchange(kind);
    } else if (kind == kRtspDescribe && IsRedirect(status) && !parser_.GetLocation().empty()) {
      if (redirects == kMaxRedirects) {
        problem = Format("the camera redirected DESCRIBE more than %u times (last to %s)", kMaxRedirects,
                         AbsoluteUrl(parser_.GetLocation()).c_str());
        break;
      }
      if (!FollowRedirect(problem)) break;
      ++redirects;
      authRetried = false;
      ok = Exchange(kind);
    } else if (kind == kRtspSetup && status >= 400 && status < 500 && !setupRetried) {
      // The other reading of an absolute-path control, when it has one.
      setupRetried = true;
      const std::string first = GetTrackUrl();
      alternateTrackUrl_ = true;
      if (GetTrackUrl() == first) break;
      ok = Exchange(kind);
    } else {
      break;
    }
  }
  const uint32_t status = parser_.GetStatusCode();
  const bool success = ok && status >= 200 && status < 300;
  // Any answer to a keep-alive shows the session alive; other requests
  // count as exchanged when answered well or asked for credentials.
  lastExchangeResult_.store(ok && (IsKeepAlive(kind) || success || status == 401));
  const uint32_t answerStatus = answerStatus_;
  if (!ok && answerStatus != 0 && problem.empty()) problem = parser_.GetError();
  lock.unlock();
  if (!success && kind <= kRtspPlay && user_ != nullptr && !IsStopping()) {
    try {
      user_->SessionFailed(kind, answerStatus, 0, problem);
    } catch (...) {
    }
  }
  if (!success && kind == kRtspDescribe && !(ok && status == 401)) {
    // A DESCRIBE cut short by our own stop says nothing about the camera.
    if (user_ != nullptr && !IsStopping()) {
      try {
        user_->DescribeFailed();
      } catch (...) {
      }
    }
    StopEvent().Set();
  }
  return success;
}

bool CBaseRTSPClient::KeepAliveRequest() {
  const uint32_t method = keepAliveMethod_.load();
  Request(method);
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  const uint32_t status = parser_.GetStatusCode();
  if (!lastExchangeResult_.load() || status < 400 || status == 401) return lastExchangeResult_.load();
  // Refused (405, 501, ...): the other method; when both are refused,
  // OPTIONS goes on, since any answer shows the session alive.
  refusedKeepAlives_ |= 1u << method;
  const uint32_t other = method == kRtspOptions ? kRtspGetParameter : kRtspOptions;
  const uint32_t next = (refusedKeepAlives_ & (1u << other)) ? kRtspOptions : other;
  if (next != method && driver_ != nullptr) {
    driver_->DebugMessage(kLogInfo,
                          "orbisan::CBaseRTSPClient::KeepAlive: %s answered %u; keeping the session alive "
                          "with %s, device %s",
                          MethodName(method), status, MethodName(next), driver_->GetDeviceName().c_str());
  }
  keepAliveMethod_.store(next);
  return true;
}

bool CBaseRTSPClient::SendKeepAlive() {
  // While the session thread reads the interleaved stream, the answer would
  // arrive there; its own keep-alive check covers that mode.
  if (!keepAliveEnabled_.load() || IsStopping() || interleaving_.load()) return false;
  {
    std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
    if (multicast_) return false;
  }
  return KeepAliveRequest();
}

void CBaseRTSPClient::SetClientPorts(uint16_t rtpPort, uint16_t rtcpPort) {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  params_.clientRtpPort = rtpPort;
  params_.clientRtcpPort = rtcpPort;
}

RTSP_TRANSPORT_INFO CBaseRTSPClient::GetServerTransport() {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  return parser_.GetTransport();
}

uint32_t CBaseRTSPClient::KeepAlivePeriodSec() {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  const uint32_t period = parser_.GetSessionTimeout() != 0 ? parser_.GetSessionTimeout() : params_.keepAlivePeriodSec;
  // A period below 2 s would flood the camera with OPTIONS.
  return std::max<uint32_t>(period, 2);
}

uint32_t CBaseRTSPClient::NextWaitMs() {
  // Checked at least twice per half period, so that a short session time-out
  // is still met.
  const uint64_t quarterMs = static_cast<uint64_t>(KeepAlivePeriodSec()) * 1000 / 4;
  return static_cast<uint32_t>(std::max<uint64_t>(kMinWaitMs, std::min<uint64_t>(idleWaitMs_.load(), quarterMs)));
}

void CBaseRTSPClient::KeepAliveCheck() {
  const uint64_t halfPeriodMs = static_cast<uint64_t>(KeepAlivePeriodSec()) * 1000 / 2;
  const uint64_t now = Now();
  if (lastKeepAliveCheck_ == 0 || now - lastKeepAliveCheck_ > halfPeriodMs || now < lastKeepAliveCheck_) {
    // A multicast session needs none; the flag itself stays as the owner set
    // it, so that a later unicast session of this client has its keep-alive.
    if (keepAliveEnabled_.load() && !multicast_) KeepAliveRequest();
    lastKeepAliveCheck_ = std::max<uint64_t>(now, 1);
  }
}

uint32_t CBaseRTSPClient::ThreadFunction() {
  pauseEvent_.Reset();
  playEvent_.Reset();
  if (Request(kRtspDescribe)) {
    bool accepted = false;
    if (user_ != nullptr) {
      SDP_SESSION_INFO info;
      {
        std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
        info = parser_.GetSessionInfo();
      }
      try {
        accepted = user_->SdpInfoReceived(info);
      } catch (...) {
        accepted = false;
      }
    }
    if (accepted && Request(kRtspSetup)) {
      if (!paused_.load()) playEvent_.Set();
      CEvent* events[3] = {&StopEvent(), &pauseEvent_, &playEvent_};
      const bool interleaved = transportMode_ == kRtpInterleaved;
      interleaving_.store(interleaved);
      for (;;) {
        const uint32_t waitMs = NextWaitMs();
        // Read in every mode: the camera's own requests want an answer.
        const int32_t which = PumpUntilEvent(events, 3, waitMs);
        if (which == 0) break;
        if (which == 1) {
          if (Request(kRtspPause)) paused_.store(true);
        } else if (which == 2) {
          paused_.store(false);
          Request(kRtspPlay);
        } else {
          KeepAliveCheck();
        }
      }
    }
    interleaving_.store(false);
    if (rtcpReporting_) {
      // As over UDP: a camera that spoke RTCP hears the goodbye.
      uint8_t bye[CRTCPReportState::kByeSize];
      rtcp_.BuildBye(bye);
      std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
      SendRtcpFrame(bye, sizeof bye);
    }
    Request(kRtspTeardown);
  }
  if (user_ != nullptr) {
    try {
      user_->SessionClosed();
    } catch (...) {
    }
  }
  return 0;
}

}  // namespace orbisan
