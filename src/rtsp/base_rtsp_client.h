#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "rtsp/rtsp_client_user.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_session_params.h"
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
// TEARDOWN. In interleaved mode the thread also reads the RTP packets.
class CBaseRTSPClient : public CBaseThread {
 public:
  using Clock = std::function<uint64_t()>;  // UTC file time

  explicit CBaseRTSPClient(IDebugMessage* driver);
  ~CBaseRTSPClient() override;

  bool Start(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user, uint32_t transportMode);
  bool StartMulticast(const RTSP_SESSION_PARAMS& params, IRTSPClientUser* user);
  void Stop();
  bool SendKeepAlive();
  void RequestPause() { pauseEvent_.Set(); }
  void RequestPlay() { playEvent_.Set(); }
  bool IsConnected() const { return socket_.load() >= 0; }
  void SetKeepAliveEnabled(bool enabled) { keepAliveEnabled_.store(enabled); }
  // Whether the most recent exchange (request and answer, authorization
  // retry included) succeeded, whatever its status.
  bool GetLastExchangeResult() const { return lastExchangeResult_.load(); }
  bool IsPaused() const { return paused_.load(); }

  // Test hooks: the clock of the keep-alive check and the idle wait between
  // checks (2000 ms).
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
  std::string ReadResponse();
  std::string SkipToStatusLine(int fd);
  bool RunInterleavedLoop();
  void KeepAliveCheck();
  std::string AuthorizationHeader(const char* method);
  uint64_t Now();

  IDebugMessage* driver_;
  RTSP_SESSION_PARAMS params_;
  std::atomic<int> socket_{-1};
  IRTSPClientUser* user_ = nullptr;
  uint32_t transportMode_ = kRtpOverUdp;
  bool multicast_ = false;
  std::atomic<bool> keepAliveEnabled_{true};
  std::atomic<bool> paused_{false};
  std::atomic<bool> interleaving_{false};
  bool interleavedStarted_ = false;  // answers may then follow RTP frames
  uint64_t lastKeepAliveCheck_ = 0;
  std::atomic<bool> lastExchangeResult_{false};
  CEvent pauseEvent_{false};
  CEvent playEvent_{false};
  CRTSPResponseParser parser_;
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
