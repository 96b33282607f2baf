#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtsp/rtcp_report_state.h"
#include "rtsp/rtsp_client_user.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_session_params.h"
#include "rtsp/rtsp_stream_parser.h"
#include "runtime/base_thread.h"
#include "runtime/debug_message.h"
#include "runtime/event.h"

namespace orbisan {

// Transport modes of a session.
enum RTSPTransportMode : uint32_t {
  kRtpOverUdp = 0,
  kRtpOverTcp = 1,      // client ports announced with a TCP profile
  kRtpInterleaved = 2,  // RTP inside the RTSP connection
};

// One RTSP/1.0 session over one TCP connection, run by its own thread:
// DESCRIBE, SETUP of one media, PLAY, keep-alives, pause/play on request,
// TEARDOWN. In interleaved mode the thread reads the connection all the time
// it waits: RTP packets go to the user, sender reports are answered with
// receiver reports on the RTCP channel, and keep-alives and pause/play
// requests go out in between, their answers found among the packets.
// Answers are bounded in size and in time (the receive time-out is the
// budget of a whole answer, shortened by Stop).
class CBaseRTSPClient : public CBaseThread {
 public:
  using Clock = std::function<uint64_t()>;  // monotonic milliseconds

  explicit CBaseRTSPClient(IDebugMessage* driver);
  ~CBaseRTSPClient() override;

  bool Start(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user, uint32_t transportMode);
  bool StartMulticast(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user);
  void Stop();
  // A keep-alive from the caller's thread; false (nothing sent) in a
  // multicast session and while the session thread reads an interleaved
  // stream, which keeps itself alive.
  bool SendKeepAlive();
  // The client ports SETUP announces, changed before SETUP (from
  // SdpInfoReceived) when the chosen pair turned out to be in use.
  void SetClientPorts(uint16_t rtpPort, uint16_t rtcpPort);
  // The Transport the camera answered SETUP with.
  RTSP_TRANSPORT_INFO GetServerTransport();
  // The keep-alive method in use: OPTIONS, or GET_PARAMETER once OPTIONS
  // was refused.
  uint32_t GetKeepAliveMethod() const { return keepAliveMethod_.load(); }
  void RequestPause() { pauseEvent_.Set(); }
  void RequestPlay() { playEvent_.Set(); }
  bool IsConnected() const { return socket_.load() >= 0; }
  void SetKeepAliveEnabled(bool enabled) { keepAliveEnabled_.store(enabled); }
  // Whether the most recent exchange (request and answer, authorization
  // retry included) succeeded, whatever its status.
  bool GetLastExchangeResult() const { return lastExchangeResult_.load(); }
  // From the sender reports that came interleaved; false when none did.
  bool CameraClockOffsetMs(int64_t& offset) const { return rtcp_.CameraClockOffsetMs(offset); }
  bool IsPaused() const { return paused_.load(); }

  // Test hooks: the clock of the keep-alive check and the longest idle wait
  // between checks (2000 ms; shorter when the keep-alive period asks for it).
  void SetClock(Clock clock);
  void SetIdleWaitMs(uint32_t ms) { idleWaitMs_.store(ms); }

  // The request text as it would be sent now (empty for an unknown kind).
  std::string ComposeRequest(uint32_t kind);
  std::string GetBaseUrl();
  std::string GetTrackUrl();

 protected:
  uint32_t ThreadFunction() override;

 private:
  bool StartSession(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user, uint32_t transportMode, bool multicast);
  bool Connect();
  void CloseSocket();
  // One request with the 401 retry; true for a 2xx answer.
  bool Request(uint32_t kind);
  bool Exchange(uint32_t kind);
  bool SendAll(const std::string& text);
  // Reads until the answer to the last request is there (true) or the
  // connection, the time budget or a stop ends the wait.
  bool AwaitAnswer(uint32_t kind, std::string& answer);
  // One bounded wait for data on the connection; false once it is closed.
  bool PumpOnce(uint32_t waitMs);
  // Waits for one of the events while reading the connection (interleaved).
  int32_t PumpUntilEvent(CEvent* const events[], uint32_t count, uint32_t waitMs);
  void AnswerArrived(std::string_view text, bool complete);
  // A request of the camera's own: answered, never taken for an answer.
  void CameraRequestArrived(std::string_view text);
  // The keep-alive of the session thread and of SendKeepAlive: one method,
  // changed when the camera refuses it.
  bool KeepAliveRequest();
  // After a redirect of DESCRIBE: the next DESCRIBE goes to Location on a
  // new connection; false (problem says why) when it is not followed.
  bool FollowRedirect(std::string& problem);
  // Whether the 401 just received is worth one more try: another scheme, a
  // new nonce (a keep-alive after the camera renewed it) or a stale one.
  bool ChallengeRenewed();
  // Content-Base, Content-Location or a Location made into an rtsp URL.
  std::string AbsoluteUrl(const std::string& text);
  std::string Authority();
  void RtpArrived(const CRTPPacket& packet);
  void RtcpArrived(const uint8_t* data, size_t length);
  void SendRtcpFrame(const uint8_t* data, size_t length);
  uint32_t KeepAlivePeriodSec();
  uint32_t NextWaitMs();
  void KeepAliveCheck();
  // The user's idle step while the stream is interleaved (0 otherwise).
  uint32_t StreamIdle();
  std::string ComposeText(uint32_t kind);
  std::string AuthorizationHeader(const char* method);
  bool CredentialsUsable();
  void LogError(const char* method, const char* what);
  uint64_t Now();

  // Passes the packets of the stream parser to the client (counted for the
  // receiver reports) and on to the user.
  class PacketTap : public IRTSPClientUser {
   public:
    explicit PacketTap(CBaseRTSPClient& client) : client_(client) {}
    bool SdpInfoReceived(const SDP_SESSION_INFO&) override { return false; }
    void RtpPacketReceived(const CRTPPacket& packet) override { client_.RtpArrived(packet); }
    void SessionClosed() override {}
    void DescribeFailed() override {}

   private:
    CBaseRTSPClient& client_;
  };

  IDebugMessage* driver_;
  RTSP_SESSION_PARAMS params_;
  std::atomic<int> socket_{-1};
  IRTSPClientUser* user_ = nullptr;
  uint32_t transportMode_ = kRtpOverUdp;
  bool multicast_ = false;
  std::atomic<bool> keepAliveEnabled_{true};
  std::atomic<bool> paused_{false};
  std::atomic<bool> interleaving_{false};
  bool peerClosed_ = false;
  uint64_t lastKeepAliveCheck_ = 0;  // monotonic ms, 0: none yet
  std::atomic<uint32_t> keepAliveMethod_{kRtspOptions};
  uint32_t refusedKeepAlives_ = 0;   // bit per request kind
  std::string redirectUrl_;          // where DESCRIBE was sent on, empty: the configured URL
  bool alternateTrackUrl_ = false;   // SETUP tries the other reading of an absolute-path control
  std::vector<uint32_t> lostCSeqs_;  // requests that got no answer in time
  uint32_t answerStatus_ = 0;        // status of the last answer, 0 when none came
  bool sentAuthorization_ = false;   // the last request carried credentials
  std::string countedNonce_;         // Digest nonce the count below belongs to
  uint32_t nonceCount_ = 0;
  std::atomic<bool> lastExchangeResult_{false};
  CEvent pauseEvent_{false};
  CEvent playEvent_{false};
  CRTSPResponseParser parser_;
  PacketTap tap_{*this};
  CRTSPStreamParser stream_{&tap_, 0};
  CRTCPReportState rtcp_;
  bool rtcpReporting_ = false;  // a sender report came (interleaved)
  // The answer to the request in flight, as the stream parser found it.
  bool answerArrived_ = false;
  bool answerComplete_ = false;
  std::string answer_;
  // Not zero-filled: only the part reads really fill takes memory.
  std::unique_ptr<uint8_t[]> receiveBuffer_;
  // Serialises exchanges of the session thread and SendKeepAlive (both use
  // the socket and the parser).
  std::recursive_mutex exchangeMutex_;
  std::mutex clockMutex_;
  Clock clock_;
  std::atomic<uint32_t> idleWaitMs_{2000};
  std::atomic<uint32_t> receiveTimeoutMs_{5000};
  std::atomic<uint32_t> sendTimeoutMs_{1000};
};

}  // namespace orbisan
