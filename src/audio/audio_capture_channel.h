#pragma once

#include <cstdint>

#include "audio/base_audio_rtsp_channel.h"
#include "audio/rtp_audio_parser.h"
#include "camera/http_sender.h"
#include "device/device_info.h"

namespace orbisan {

// The audio input of one camera channel of this family: the camera is asked
// over CGI to send G.711 mu-law, and the audio track of its RTSP stream is
// gathered into one-second frames.
class CAudioCaptureChannel : public CBaseAudioRTSPChannel, public IAudioFrameReceiver {
 public:
  CAudioCaptureChannel(IDriver* driver, uint32_t cameraChannel, uint32_t channelId, ipcapture::IAudioInputSink* sink,
                       void* hostValue);
  ~CAudioCaptureChannel() override;

  bool Stop() override;

  // IRTSPClientUser
  bool SdpInfoReceived(const SDP_SESSION_INFO& info) override;
  // IAudioFrameReceiver
  bool AudioFrameReady(ipcapture::IAudioSample* sample) override;

  // The session parameters this channel asks for (exposed for tests).
  void FillSessionParams(RTSP_SESSION_PARAMS& params) override;
  // The CGI path of the camera check.
  std::string CameraCheckPath() const;

 protected:
  bool CameraCheck() override;
  void ProcessPacket(const CRTPPacket& packet) override { parser_.ProcessPacket(packet); }
  void ResetParser() override { parser_.Reset(); }

 private:
  DEVICE_INFO device_;
  Web::CHttpSender http_;
  CBaseRTPAudioParser parser_;
  int32_t portListMode_ = 0;
  int32_t audioFormatMode_ = 2;
};

}  // namespace orbisan
