#pragma once

#include <cstdint>

#include "channels/camera_channel.h"

namespace orbisan {

// Watches the registered channels for gaps and fetches them from the camera.
class IEdgeStorageHandler {
 public:
  virtual ~IEdgeStorageHandler() = default;
  virtual void RegisterChannel(IEdgeMonitorChannel* channel) = 0;
  virtual void UnregisterChannel(IEdgeMonitorChannel* channel) = 0;
  virtual ipcapture::IVideoFrameSink* FindChannel(uint32_t key) = 0;
  // Hands a fetched frame to the sink of the key; false when the key is not
  // monitored or the sink refused the frame. Once the key's last
  // unregistration has returned, no frame reaches its sink.
  virtual bool DeliverFrame(uint32_t key, ipcapture::IMediaSample* frame) = 0;
};

// Retrieves one recorded interval at a time.
class IEdgeStorageTask {
 public:
  virtual ~IEdgeStorageTask() = default;
  virtual void SetInterval(uint32_t key, uint64_t begin, uint64_t end) = 0;
  virtual bool ProcessTaskItem(uint64_t* position) = 0;
  virtual void AbortChannel(uint32_t key) = 0;
  virtual void Abort() = 0;
  // Where fetched frames find their channel's sink; null detaches (the
  // handler goes away before the task does).
  virtual void SetHandler(IEdgeStorageHandler* handler) = 0;
  virtual IEdgeStorageHandler* GetHandler() = 0;
};

}  // namespace orbisan
