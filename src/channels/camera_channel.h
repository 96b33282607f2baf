#pragma once

#include <cstdint>
#include <string>

#include "device/stream_params.h"
#include "strandline/media_sample.h"
#include "strandline/stream_request.h"

namespace orbisan {

// Told the time of every delivered frame (edge storage gap detection).
class IEdgeStorageCallback {
 public:
  virtual ~IEdgeStorageCallback() = default;
  virtual void OnFrameTime(uint32_t channelIndex, uint64_t frameTime) = 0;
  virtual void OnSignalLost(uint32_t channelIndex) = 0;
};

class IEdgeMonitorChannel {
 public:
  virtual ~IEdgeMonitorChannel() = default;
  virtual uint32_t GetChannelIndex() = 0;
  virtual ipcapture::IVideoFrameSink* GetFrameSink() = 0;
  virtual void SetEdgeStorageCallback(IEdgeStorageCallback* callback) = 0;
};

// What a channel lost and why it last failed, for the host.
struct CHANNEL_STATISTICS {
  uint64_t rtpLost = 0;        // RTP packets missing from the sequence (or dropped by the driver)
  uint64_t framesDropped = 0;  // frames begun but never delivered, after the first delivered one
  std::string lastFailure;     // why the stream last failed to start or ended; empty when nothing failed
};

// One video stream of one input.
class ICameraChannel : public IEdgeMonitorChannel {
 public:
  virtual void SetPrivacyMask(ipcapture::IPrivacyZoneList* zones) = 0;
  virtual bool Start(const STREAM_PARAMS* params) = 0;
  virtual void Stop() = 0;
  // Asks the channel to stop without waiting for it (Stop follows later):
  // nothing reaches the frame sink after this returns.
  virtual void RequestStop() {}
  virtual bool Restart(const STREAM_PARAMS* params) = 0;
  virtual bool StartEdgeMonitoring() = 0;
  virtual bool StopEdgeMonitoring() = 0;
  virtual ChannelState GetState() = 0;
  virtual CHANNEL_STATISTICS GetStatistics() { return {}; }
};

}  // namespace orbisan
