#pragma once

#include <cstdint>
#include <optional>
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

// What a channel delivered and lost and why it last failed, for the host.
// Empty optionals are figures the channel cannot know (yet).
struct CHANNEL_STATISTICS {
  uint64_t rtpLost = 0;        // RTP packets missing from the sequence (or dropped by the driver)
  uint64_t framesDropped = 0;  // frames begun but never delivered, after the first delivered one
  std::string lastFailure;     // why the stream last failed to start or ended; empty when nothing failed
  uint64_t frames = 0;         // delivered to the host
  uint64_t keyFrames = 0;
  uint64_t bytes = 0;
  double fps = 0;   // over the last ten whole seconds
  double kbps = 0;  // likewise
  std::optional<uint64_t> rtpDuplicates;
  std::optional<uint64_t> rtpReordered;
  std::optional<double> jitterMs;  // RFC 3550 interarrival jitter
  uint64_t reconnects = 0;         // times the stream came back after it had run
  uint64_t signalLost = 0;         // outages told to the host
  std::optional<double> secondsSinceLastFrame;
  std::optional<int64_t> cameraClockOffsetMs;  // camera sender-report clock minus the host's clock
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
