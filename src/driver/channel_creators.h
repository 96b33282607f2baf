#pragma once

#include <cstdint>

#include "audio/audio_channel_creator.h"
#include "channels/camera_channel.h"
#include "strandline/media_sample.h"

namespace orbisan {

class IMotionChannel;
class IEdgeStorageHandler;

// Makes the video, motion and edge-storage objects of the driver. The caller
// owns what it gets.
class IVideoChannelCreator {
 public:
  virtual ~IVideoChannelCreator() = default;
  virtual ICameraChannel* CreateVideoChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink,
                                             STREAM_PARAMS* params) = 0;
  virtual IMotionChannel* CreateMotionChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink) = 0;
  virtual IEdgeStorageHandler* CreateEdgeStorageHandler() = 0;
};

}  // namespace orbisan
