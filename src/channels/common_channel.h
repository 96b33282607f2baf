#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "camera/http_sender.h"
#include "camera/privacy_zone_handler.h"
#include "camera/stream_configurator.h"
#include "channels/base_rtsp_channel.h"

namespace orbisan {

// The camera family's session parameters: RTSP port and path from the host
// parameters, multicast path, privacy zones, and a reboot when the camera's
// RTSP service stops answering DESCRIBE.
class CCommonChannel : public CBaseRTSPChannel {
 public:
  CCommonChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink);
  ~CCommonChannel() override;

  void SetPrivacyMask(ipcapture::IPrivacyZoneList* zones) override;
  void DescribeFailed() override;
  void SessionFailed(uint32_t kind, uint32_t status, int error, const std::string& problem) override;

 protected:
  void AdjustStreamingMode(uint32_t& mode) override;
  void FillSessionParams(RTSP_SESSION_PARAMS& params) override;
  // The encoder set-up for this stream with the given codec sequence.
  bool ConfigureCodec(CStreamConfigurator::Codec codec);
  // CGI requests under way end when the channel stops.
  void OnStopThread() override;
  void OnStartThread() override;

  std::atomic<uint32_t> describeStatus_{0};  // status of the last failed DESCRIBE, 0 for no answer
  int32_t cameraGroup_ = 1;
  int32_t deviceType_ = 0;
  int32_t channelMode_ = 0;
  int32_t mountingType_ = 0;
  DEVICE_INFO deviceInfo_;
  Web::CHttpSender http_;
  CPrivacyZoneHandler privacy_;
};

class CH264ChannelRTSP : public CCommonChannel {
 public:
  using CCommonChannel::CCommonChannel;
  ~CH264ChannelRTSP() override { StopFromDestructor(); }

 protected:
  bool ConfigureStream() override { return ConfigureCodec(kCodecH264); }
};

class CMJPEGChannelRTSP : public CCommonChannel {
 public:
  using CCommonChannel::CCommonChannel;
  ~CMJPEGChannelRTSP() override { StopFromDestructor(); }

 protected:
  bool ConfigureStream() override { return ConfigureCodec(kCodecMjpeg); }
};

class CMPEGChannelRTSP : public CCommonChannel {
 public:
  using CCommonChannel::CCommonChannel;
  ~CMPEGChannelRTSP() override { StopFromDestructor(); }

 protected:
  bool ConfigureStream() override { return ConfigureCodec(kCodecMpeg4); }
};

}  // namespace orbisan
