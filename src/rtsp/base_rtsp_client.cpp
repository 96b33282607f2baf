#include "rtsp/base_rtsp_client.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/socket_utils.h"
#include "rtsp/base64.h"
#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_stream_parser.h"
#include "rtsp/rtsp_text.h"
#include "runtime/format.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr const char* kVersion = "RTSP/1.0\r\n";
constexpr const char* kUserAgent = "User-Agent: Orbisan\r\n";
constexpr size_t kHeaderLimit = 512;
constexpr size_t kFirstReceive = 256;
constexpr size_t kInterleavedBuffer = 8192;
constexpr uint32_t kStopReceiveTimeoutMs = 100;
constexpr uint32_t kPollSliceMs = 50;
constexpr size_t kMaxSkippedBytes = 4 * 1024 * 1024;

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
    default:
      return nullptr;
  }
}

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDebugMessage* driver) : CBaseThread(driver), driver_(driver) {}

CBaseRTSPClient::~CBaseRTSPClient() { Stop(); }

void CBaseRTSPClient::SetClock(Clock clock) {
  std::lock_guard<std::mutex> lock(clockMutex_);
  clock_ = std::move(clock);
}

uint64_t CBaseRTSPClient::Now() {
  std::lock_guard<std::mutex> lock(clockMutex_);
  return clock_ ? clock_() : NowFileTime();
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
    interleavedStarted_ = false;
    params_ = params;
    user_ = user;
    transportMode_ = transportMode;
    receiveTimeoutMs_.store(params.receiveTimeoutMs);
    sendTimeoutMs_.store(params.sendTimeoutMs);
  }
  if (!Connect()) {
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

std::string CBaseRTSPClient::GetBaseUrl() {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  const std::string& contentBase = parser_.GetContentBase();
  if (contentBase.find("rtsp://") != std::string::npos) return contentBase;
  std::string url = Format("rtsp://%s:%u/", params_.host.c_str(), static_cast<unsigned>(params_.serverPort));
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
  if (control.find("://") != std::string::npos) return control;
  std::string url = GetBaseUrl();
  if (control.empty()) return url;
  if (!url.empty() && url.back() == '/') url.pop_back();
  if (control.front() != '/') url += '/';
  return url + control;
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
    const std::string response = DigestResponse(params_.userName, realm, params_.password, method, uri, nonce);
    return Format("Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", response=\"%s\"\r\n",
                  params_.userName.c_str(), realm.c_str(), nonce.c_str(), uri.c_str(), response.c_str());
  }
  return {};
}

std::string CBaseRTSPClient::ComposeRequest(uint32_t kind) {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  const char* method = MethodName(kind);
  if (method == nullptr) return {};
  const std::string base = GetBaseUrl();
  const std::string cseq = Format("CSeq: %u\r\n", parser_.GetCSeq());
  const std::string authorization = AuthorizationHeader(method);
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

// Receives up to `wanted` bytes; 0 on close, -1 on error or time-out. The
// time-out is re-read while waiting so that Stop can shorten it.
static ssize_t ReceiveSome(int fd, char* buffer, size_t wanted, const std::atomic<uint32_t>& timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(kPollSliceMs));
    if (ready > 0) return recv(fd, buffer, wanted, 0);
    if (ready < 0 && errno != EINTR) return -1;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (elapsed >= static_cast<int64_t>(timeoutMs.load())) return -1;
  }
}

// In interleaved mode RTP frames (or the rest of one) may still come before
// an answer; everything up to the answer's status line is dropped.
std::string CBaseRTSPClient::SkipToStatusLine(int fd) {
  std::string window;
  char buffer[2048];
  for (size_t skipped = 0; skipped < kMaxSkippedBytes;) {
    const ssize_t received = ReceiveSome(fd, buffer, sizeof buffer, receiveTimeoutMs_);
    if (received <= 0) return {};
    window.append(buffer, static_cast<size_t>(received));
    const size_t status = window.find("RTSP/1.0 ");
    if (status != std::string::npos) return window.substr(status);
    skipped += static_cast<size_t>(received);
    if (window.size() > 8) window.erase(0, window.size() - 8);
  }
  return {};
}

std::string CBaseRTSPClient::ReadResponse() {
  const int fd = socket_.load();
  std::string text;
  if (fd < 0) return text;
  if (interleavedStarted_) {
    text = SkipToStatusLine(fd);
    if (text.empty()) return text;
  }
  size_t expected = kHeaderLimit;
  bool headerDone = false;
  char buffer[kHeaderLimit];
  for (bool first = text.empty();; first = false) {
    if (!headerDone) {
      const size_t headerEnd = text.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        headerDone = true;
        const std::string lower = rtsptext::ToLower(text.substr(0, headerEnd + 2));
        const uint32_t contentLength =
            rtsptext::ParseDecimal(rtsptext::Trim(rtsptext::ExtractValue(lower, "content-length", ": ", "\r\n")));
        expected = headerEnd + 4 + contentLength;
      }
    }
    if (text.size() >= expected) break;
    const size_t cap = first ? kFirstReceive : kHeaderLimit;
    const size_t wanted = std::min(cap, expected - text.size());
    const ssize_t received = ReceiveSome(fd, buffer, wanted, receiveTimeoutMs_);
    if (received <= 0) break;
    text.append(buffer, static_cast<size_t>(received));
  }
  if (!headerDone && text.size() > kHeaderLimit) text.resize(kHeaderLimit);
  return text;
}

bool CBaseRTSPClient::Exchange(uint32_t kind) {
  std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
  if (socket_.load() < 0) return false;
  parser_.NextCSeq();
  const std::string request = ComposeRequest(kind);
  if (request.empty() || !SendAll(request)) return false;
  if (kind == kRtspPlay && transportMode_ == kRtpInterleaved) {
    interleavedStarted_ = true;
    return RunInterleavedLoop();
  }
  const std::string response = ReadResponse();
  return parser_.Parse(response, kind);
}

bool CBaseRTSPClient::Request(uint32_t kind) {
  if (kind != kRtspTeardown && IsStopping()) return false;
  std::unique_lock<std::recursive_mutex> lock(exchangeMutex_);
  bool ok = Exchange(kind);
  if (ok && parser_.GetStatusCode() == 401 && parser_.GetAuthScheme() != params_.authScheme) {
    params_.authScheme = parser_.GetAuthScheme();
    ok = Exchange(kind);
  }
  lastExchangeResult_.store(ok);
  const uint32_t status = parser_.GetStatusCode();
  lock.unlock();
  if (!ok && kind == kRtspDescribe) {
    if (user_ != nullptr) {
      try {
        user_->DescribeFailed();
      } catch (...) {
      }
    }
    StopEvent().Set();
  }
  return ok && status >= 200 && status < 300;
}

bool CBaseRTSPClient::RunInterleavedLoop() {
  // The socket belongs to this loop until it returns; SendKeepAlive stays away.
  interleaving_.store(true);
  CRTSPStreamParser stream(user_, parser_.GetInterleavedChannel());
  std::vector<char> buffer(kInterleavedBuffer);
  bool result = true;
  const int fd = socket_.load();
  for (;;) {
    const ssize_t received = ReceiveSome(fd, buffer.data(), buffer.size(), receiveTimeoutMs_);
    if (received <= 0) break;
    if (IsStopping()) {
      result = false;
      break;
    }
    stream.Feed(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(received));
  }
  interleaving_.store(false);
  return result;
}

bool CBaseRTSPClient::SendKeepAlive() {
  if (!keepAliveEnabled_.load() || IsStopping() || interleaving_.load()) return false;
  return Request(kRtspOptions);
}

void CBaseRTSPClient::KeepAliveCheck() {
  uint32_t periodSec;
  {
    std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
    periodSec = parser_.GetSessionTimeout() != 0 ? parser_.GetSessionTimeout() : params_.keepAlivePeriodSec;
  }
  const uint64_t now = Now();
  const uint64_t elapsedMs = now > lastKeepAliveCheck_ ? (now - lastKeepAliveCheck_) / kFileTimeUnitsPerMs : 0;
  if (elapsedMs > static_cast<uint64_t>(periodSec) * 1000 / 2) {
    if (keepAliveEnabled_.load()) Request(kRtspOptions);
    lastKeepAliveCheck_ = now;
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
      for (;;) {
        const int32_t which = CEvent::WaitForAny(events, 3, idleWaitMs_.load());
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
