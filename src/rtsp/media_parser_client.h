#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "strandline/media_sample.h"
#include "strandline/system_time.h"

namespace orbisan {

// What a depacketizer needs from the channel that feeds it.
class IMediaParserClient {
 public:
  virtual ~IMediaParserClient() = default;
  // False when the channel refused the frame (the depacketizer then resets).
  virtual bool FrameReady(ipcapture::IMediaSample* frame) = 0;
  // Width and height configured for the stream.
  virtual std::pair<uint32_t, uint32_t> GetDefaultResolution() = 0;
  // The name samples are created with ("<driver>::LiveStream" and so on).
  virtual std::string GetStreamName() = 0;
  // Wall-clock (UTC) capture time of the frame with this RTP timestamp.
  virtual void ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME& time) = 0;
  // Where frames are allocated (the host's allocator; null when it has none).
  virtual ipcapture::IMediaSampleAllocator* GetSampleAllocator() = 0;
};

}  // namespace orbisan
