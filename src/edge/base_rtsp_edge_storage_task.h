#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "edge/base_edge_storage_task.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_media_parser.h"
#include "rtsp/rtp_receiver.h"
#include "rtsp/rtp_sequencer.h"
#include "rtsp/rtsp_client_user.h"
#include "rtsp/rtsp_session_params.h"

namespace orbisan {

// Plays a recorded interval over an RTSP session: RTP over a UDP port pair,
// or inside the RTSP connection when the driver configuration asks for it,
// into the depacketizer the session description calls for, put back in
// order on the way as live video is.
class CBaseRTSPEdgeStorageTask : public CBaseEdgeStorageTask,
                                 public IRTSPClientUser,
                                 public IRTPReceiverUser,
                                 public IRTCPHandlerUser,
                                 public IRtpSequencedSink {
 public:
  explicit CBaseRTSPEdgeStorageTask(IDriver* driver);
  ~CBaseRTSPEdgeStorageTask() override;

  // IRTSPClientUser
  bool SdpInfoReceived(const SDP_SESSION_INFO& info) override;
  void RtpPacketReceived(const CRTPPacket& packet) override { HandlePacket(packet); }
  void SessionClosed() override { NotifySessionClosed(); }
  void DescribeFailed() override {}
  // IRTPReceiverUser
  void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) override;
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  uint32_t QueueIdle() override { return FlushIdle(); }
  // IRTCPHandlerUser
  void ByeReceived() override {}
  // IRtpSequencedSink
  void SequencedPacket(const CRTPPacket& packet, uint32_t lost) override;

  uint32_t RtpMode() const { return rtpMode_; }
  // "/playback/datetime=YYYY.MM.DD.hh.mm.ss" of a UTC file time.
  static std::string PlaybackPath(uint64_t position);

 protected:
  bool StartSession(uint64_t position) override;
  void StopSession() override;
  bool IsSessionRunning() override;
  bool LastExchangeResult() override { return client_.GetLastExchangeResult(); }
  uint32_t FlushIdle() override;
  // Server port and whatever else the camera's family decides.
  virtual void FillSessionParams(RTSP_SESSION_PARAMS& params) = 0;

 private:
  void HandlePacket(const CRTPPacket& packet);

  CBaseRTSPClient client_;
  CRTPReceiver receiver_;
  CRTCPHandler rtcp_;
  CManualEvent packetReceived_;
  CRecursiveLock parserLock_;
  std::unique_ptr<CRTPMediaParser> parser_;
  CRtpSequencer sequencer_;  // guarded by parserLock_
  std::atomic<uint32_t> cameraAddress_{0};
  uint32_t rtpMode_ = kRtpOverUdp;
  uint32_t rtpPacketSize_ = 0;
};

}  // namespace orbisan
