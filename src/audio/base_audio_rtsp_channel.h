#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "audio/base_audio_capture_channel.h"
#include "rtsp/base_rtp_data_channel.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtsp_client_user.h"
#include "rtsp/rtsp_session_params.h"
#include "runtime/event.h"
#include "runtime/logger_instance.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// An audio input channel that receives its stream over an RTSP session of
// its own, unicast or multicast, and starts the session again whenever the
// audio stops for longer than the connect time-out.
class CBaseAudioRTSPChannel : public CBaseRTPDataChannel,
                              public CBaseAudioCaptureChannel,
                              public IRTSPClientUser,
                              public CLoggerInstance {
 public:
  CBaseAudioRTSPChannel(IDriver* driver, uint32_t cameraChannel, uint32_t channelId, ipcapture::IAudioInputSink* sink,
                        void* hostValue);
  ~CBaseAudioRTSPChannel() override;

  // IAudioInputChannel
  bool Start() override;
  bool Stop() override;

  // IRTSPClientUser
  void RtpPacketReceived(const CRTPPacket& packet) override { DataPacketArrived(packet); }
  void SessionClosed() override { sessionClosed_.Set(); }
  void DescribeFailed() override {}

  // Milliseconds between the loop's checks while a session runs.
  static constexpr uint32_t kLoopPassMs = 2000;

 protected:
  uint32_t ThreadFunction() override;
  void DataPacketArrived(const CRTPPacket& packet) override;

  // Asks the camera to send audio; false when it refuses.
  virtual bool CameraCheck() = 0;
  virtual void FillSessionParams(RTSP_SESSION_PARAMS& params) = 0;
  // One packet of the session's audio, under the packet lock.
  virtual void ProcessPacket(const CRTPPacket& packet) = 0;
  // A session begins: whatever the last one left half done is dropped.
  virtual void ResetParser() = 0;

  bool Multicast() const { return multicast_; }
  void SetMulticast(bool multicast) { multicast_ = multicast; }
  CBaseRTSPClient& Client() { return client_; }
  CRecursiveLock& PacketLock() { return packetLock_; }
  // Joins the group the description names (multicast sessions).
  bool JoinGroup(const std::string& group, uint16_t port) { return StartMulticastTransport(group, port); }

 private:
  void RunUnicastLoop();
  void RunMulticastLoop();
  // The common start of a session; false when the camera check failed.
  bool BeginSession();
  bool StartUnicastSession();
  bool StartMulticastSession();
  void TearDown();
  // Ends the thread's work: the session down, the state back to stopped.
  void Finish();
  RTSP_SESSION_PARAMS SessionParams(uint16_t rtpPort, uint16_t rtcpPort);

  CBaseRTSPClient client_;
  CManualEvent sessionClosed_;
  CManualEvent playing_;  // the session's first packet came
  CRecursiveLock packetLock_;
  bool multicast_ = false;
  uint32_t rtpMode_ = kRtpOverUdp;
};

}  // namespace orbisan
