#pragma once

#include "channels/camera_channel.h"

namespace orbisan {

// The motion event channel of one input, made with the recording stream.
class IMotionChannel : public IEdgeMonitorChannel {
 public:
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  // For a stop asked for from inside one of the channel's own callbacks:
  // nothing more reaches the sink once this returns, and the thread is on its
  // way out; Stop joins it later, from another thread.
  virtual void RequestStop() = 0;
};

}  // namespace orbisan
