#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "camera/cgi_path.h"
#include "camera/http_sender.h"
#include "device/idriver.h"
#include "device/stream_params.h"
#include "runtime/event.h"

namespace orbisan {

// Brings a camera's encoder into the state one stream asks for, before the
// stream starts: it queries the current values and sends only what differs.
// One per channel, used from the channel's thread with the channel's HTTP
// client.
class CStreamConfigurator {
 public:
  using Codec = VideoCodec;

  // stopEvent (may be null) cuts the wait after an MPEG-4 CAM-series change
  // short when the channel stops.
  CStreamConfigurator(IDriver* driver, Web::CHttpSender& http, uint32_t channelIndex, const STREAM_PARAMS& params,
                      CEvent* stopEvent);
  virtual ~CStreamConfigurator() = default;

  // The channel's streaming mode: 0 unicast, 1 multicast of the primary
  // stream, 2 multicast without any set-up.
  void SetStreamingMode(uint32_t mode) { streamingMode_ = mode; }
  void SetStreamParams(const STREAM_PARAMS& params) { params_ = params; }

  // The whole set-up for an RTSP channel of the given codec; false when the
  // stream should not start yet (failure, or the camera is changing its
  // transport and rebooting).
  bool ConfigureStream(Codec codec);
  // The set-up for the vendor-library channel.
  bool ConfigureSdkStream();
  // Saves the camera's settings and reboots it (not in camera group 2).
  void SaveAndReboot();

  // Building blocks.
  // The CHANNEL item's number for this stream; 0 for none.
  uint32_t ChannelNumber(bool mapStreams);
  // A request path of the family, with the CHANNEL item when channel > 0.
  CCgiPath Path(std::string_view family, uint32_t channel = 0) const;
  bool SendSystemCommand(const std::string& params);
  std::string ResolutionCode();
  uint32_t FrameRateNumber(bool useTables);
  uint32_t FrameRatio();
  std::string Bitrate();
  std::string FrameRateParams(const std::string& answer, bool withNight, bool useTables);
  bool ConfigureStreaming();
  bool ConfigureB2();
  bool ConfigureVideoStream();

 private:
  int32_t Param(uint32_t id, int32_t absent);
  bool Get(const std::string& url, std::string& answer);
  // Sends stem + items when any item was added; true when nothing was needed.
  bool SendChange(const CCgiPath& stem, const std::string& items);
  bool RunSequence(Codec codec, uint32_t group);
  bool SequenceM0();

  IDriver* driver_;
  Web::CHttpSender& http_;
  uint32_t channelIndex_;
  STREAM_PARAMS params_;
  CEvent* stopEvent_;
  uint32_t streamingMode_ = 0;
};

}  // namespace orbisan
