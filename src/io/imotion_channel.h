#pragma once

#include "channels/camera_channel.h"

namespace orbisan {

// The motion event channel of one input, made with the recording stream.
class IMotionChannel : public IEdgeMonitorChannel {
 public:
  virtual bool Start() = 0;
  virtual void Stop() = 0;
};

}  // namespace orbisan
