#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/base_camera_channel.h"
#include "rtsp/media_parser_client.h"
#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_jitter.h"
#include "rtsp/rtp_loss_counter.h"
#include "rtsp/rtp_receiver.h"
#include "rtsp/rtp_sequencer.h"
#include "rtsp/time_stamp_converter.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

struct RTSP_SESSION_PARAMS;

// RTP reception for a video channel: the UDP receiver and RTCP, time stamps,
// the depacketizer's client side, and the capture loops that watch the flow
// of frames and rebuild the session when it stops.
class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPReceiverUser,
                        public IRTCPHandlerUser,
                        public IMediaParserClient,
                        public IRtpSequencedSink {
 public:
  CBaseRTPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink);
  ~CBaseRTPChannel() override;

  // IRTPReceiverUser
  void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) override;
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  uint32_t QueueIdle() override;
  // IRtpSequencedSink
  void SequencedPacket(const CRTPPacket& packet, uint32_t lost) override;
  // IRTCPHandlerUser
  void ByeReceived() override { byeReceived_.Set(); }
  // IMediaParserClient
  bool FrameReady(ipcapture::IMediaSample* frame) override;
  std::pair<uint32_t, uint32_t> GetDefaultResolution() override;
  std::string GetStreamName() override;
  void ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME& time) override;
  ipcapture::IMediaSampleAllocator* GetSampleAllocator() override;

  uint32_t TransportMode() const { return transportMode_; }
  uint32_t StreamingMode() const { return streamingMode_; }

 protected:
  uint32_t ThreadFunction() override;
  void OnStopThread() override {}

  virtual void RunMulticastLoop() = 0;
  virtual bool StartMulticastTransport(const std::string& group, uint16_t port);
  // Before the encoder set-up: what the session start needs early (the
  // UDP port pair, watched for stray packets meanwhile).
  virtual bool PrepareSession() { return true; }
  virtual bool StartSession() = 0;
  virtual void StopSession() = 0;
  virtual bool IsAlive() = 0;
  virtual void PeriodicHook() {}
  virtual bool ConfigureStream() = 0;
  virtual void AdjustStreamingMode(uint32_t& mode) { (void)mode; }
  virtual void ProcessRtpPacket(const CRTPPacket& packet) = 0;
  // A picture the depacketizer holds for a later packet, idleMs after the
  // last one: finished when its wait is over; returns the milliseconds
  // still to wait (0: nothing held). Under the packet lock.
  virtual uint32_t FinishHeldFrame(uint64_t idleMs) {
    (void)idleMs;
    return 0;
  }
  virtual void FillSessionParams(RTSP_SESSION_PARAMS& params) = 0;

  void FillLossCounters(CHANNEL_STATISTICS& statistics) override;
  // The wait for the first frame of a started session ran out.
  virtual void FirstFrameMissing(uint32_t waitedMs) { (void)waitedMs; }
  // Whether any RTP packet came since the loss counter last restarted.
  bool PacketsSinceStart() const { return packetsSinceStart_.load(); }

  // Resolves the camera's name again (it may have moved, or failed to
  // resolve before); false, with the failure reported, when it does not.
  bool ResolveCamera();
  // A session starts: the loss counter forgets the last session's numbers.
  void RestartLossCounter();
  // Puts a packet in sequence; SequencedPacket then counts it for loss and
  // hands it to the depacketizer.
  void HandlePacket(const CRTPPacket& packet);
  // What the thread that receives the packets (the queue thread, or the
  // session thread when interleaved) calls when they pause: ends a held
  // picture or a gap that waited long enough; returns the next wait.
  uint32_t FlushIdle();

  void RunUnicastLoop();
  // Common to both loops: report the outage once it has lasted the signal
  // time-out (one host call and one offline line per outage).
  void ReportOutageIfDue();
  // Resets the converter to live mode, under the packet lock.
  void ResetTimeStamps();

  std::atomic<uint32_t> cameraAddress_{0};  // network order; 0 when the name did not resolve
  CRTPReceiver receiver_;
  CRTCPHandler rtcp_;
  CManualEvent packetReceived_;
  CManualEvent frameDelivered_;
  CManualEvent byeReceived_;
  uint32_t transportMode_ = 0;
  uint32_t blockSize_ = 0;
  uint32_t streamingMode_ = 0;
  // Serialises packet processing with depacketizer and time stamp changes.
  CRecursiveLock packetLock_;
  CTimeStampConverter timeStamps_;
  CRtpLossCounter loss_;             // guarded by packetLock_
  CRtpSequencer sequencer_{&loss_};  // guarded by packetLock_
  uint64_t lastPacketMs_ = 0;        // guarded by packetLock_
  CRtpJitter jitter_;                // guarded by packetLock_

 private:
  uint32_t periodicIntervalMs_ = 30000;
  CTime periodicTimer_;
  std::atomic<bool> outageReported_{false};
  std::atomic<bool> packetsSinceStart_{false};
};

}  // namespace orbisan
