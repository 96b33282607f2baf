#pragma once

// A host's request for one stream: codec, picture size, frame rate (in the
// host's encoding), bitrate and motion detection as the test sets them.

#include "strandline/stream_request.h"

namespace orbisan::test {

class TestStreamRequest : public ipcapture::IStreamRequest,
                          ipcapture::IVideoFormat,
                          ipcapture::IStreamSettings,
                          ipcapture::IFrameSize {
 public:
  // frameRate 0x7000 | n asks for n frames a second.
  explicit TestStreamRequest(uint16_t codec = 3, uint16_t width = 320, uint16_t height = 240,
                             uint16_t frameRate = 0x7000 | 10)
      : codec(codec), width(width), height(height), frameRate(frameRate) {}
  ipcapture::IVideoFormat* GetVideoFormat() override { return this; }
  ipcapture::IStreamSettings* GetStreamSettings() override { return this; }
  uint32_t GetPriority() override { return 0; }
  const char* GetStreamId() override { return ""; }
  ipcapture::IPrivacyZoneList* GetPrivacyMask() override { return nullptr; }
  uint16_t GetFormatVersion() override { return 0; }
  uint16_t GetColorDepth() override { return 0; }
  ipcapture::IFrameSize* GetFrameSize() override { return this; }
  uint16_t GetCodec() override { return codec; }
  uint16_t GetFrameRate() override { return frameRate; }
  uint16_t GetQuality() override { return 0; }
  uint16_t GetBitrate() override { return bitrate; }
  uint16_t IsMotionDetectionEnabled() override { return motion; }
  uint16_t GetWidth() override { return width; }
  uint16_t GetHeight() override { return height; }

  uint16_t codec, width, height, frameRate;
  uint16_t bitrate = 0;
  uint16_t motion = 0;
};

}  // namespace orbisan::test
