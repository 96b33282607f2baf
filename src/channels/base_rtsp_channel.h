#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/base_rtp_channel.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtp_media_parser.h"
#include "rtsp/rtsp_client_user.h"
#include "rtsp/rtsp_session_params.h"
#include "runtime/logger_instance.h"
#include "runtime/smart_ptr.h"

namespace orbisan {

// The RTSP session of a video channel: unicast and multicast session starts,
// the depacketizer chosen from the description, liveness, and the pause and
// resume of edge monitoring.
class CBaseRTSPChannel : public CBaseRTPChannel, public IRTSPClientUser, public CLoggerInstance {
 public:
  CBaseRTSPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink);
  ~CBaseRTSPChannel() override;

  bool StartEdgeMonitoring() override;
  bool StopEdgeMonitoring() override;

  // IRTSPClientUser
  bool SdpInfoReceived(const SDP_SESSION_INFO& info) override;
  void RtpPacketReceived(const CRTPPacket& packet) override;
  uint32_t StreamIdle() override { return FlushIdle(); }
  void SessionClosed() override { sessionClosed_.Set(); }
  void SessionFailed(uint32_t kind, uint32_t status, int error, const std::string& problem) override;

  CBaseRTSPClient& Client() { return client_; }

 protected:
  void RunMulticastLoop() override;
  bool PrepareSession() override;
  bool StartSession() override;
  void StopSession() override;
  bool IsAlive() override;
  void ProcessRtpPacket(const CRTPPacket& packet) override;
  uint32_t FinishHeldFrame(uint64_t idleMs) override;

  bool StartMulticastSession();
  // Gives up a port pair on which the camera's packets arrived before SETUP.
  bool MoveToQuietPortPair();
  void ClosePortPair();
  void LogFailure(uint32_t level, const std::string& text) override;
  void FillLossCounters(CHANNEL_STATISTICS& statistics) override;
  void FirstFrameMissing(uint32_t waitedMs) override;
  // True while StopSession ends the session: failures then are our own doing.
  bool SessionStopping() const { return sessionStopping_.load(); }
  // The session parameters every start begins with.
  RTSP_SESSION_PARAMS BaseSessionParams(uint16_t rtpPort, uint16_t rtcpPort);

  CBaseRTSPClient client_;
  CManualEvent sessionClosed_;
  std::atomic<bool> sessionStopping_{false};
  // This session start got a description, or failed in a way already told.
  std::atomic<bool> described_{false};
  std::atomic<bool> failureTold_{false};
  TSmartPtr<CRTPMediaParser> parser_;  // guarded by packetLock_
};

}  // namespace orbisan
