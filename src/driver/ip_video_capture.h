#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "driver/channel_creators.h"
#include "runtime/queue_thread.h"
#include "runtime/recursive_lock.h"
#include "strandline/video_capture.h"

namespace orbisan {

class IEdgeStorageHandler;
class IMotionChannel;

// The host's handle on the video streams of every input: a table of the
// recording, live and remote channels (and the motion channel) per input.
class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx2 {
 public:
  CIPVideoCapture(IVideoChannelCreator* creator, uint32_t channelCount);
  ~CIPVideoCapture() override;

  uint32_t GetChannelCount() override;
  bool StartCapture(uint32_t input, ipcapture::IVideoFrameSink* sink, ipcapture::IStreamRequest* request) override;
  bool StopCapture(uint32_t input) override;
  bool ChangeFrameSize(uint32_t input, ipcapture::IFrameSize* size, uint32_t frameRate) override;
  uint32_t QueryReserved() override { return 0; }
  bool GetStreamState(uint32_t input, uint32_t* state, uint32_t* reserved, uint8_t* reservedText,
                      uint32_t reservedTextSize) override;
  bool SetParameter(const char* name, const uint16_t* value, uint32_t size) override;
  bool GetParameter(const char* name, uint16_t* value, uint32_t size) override;
  bool StopEdgeMonitoring(uint32_t input) override;
  bool StartEdgeMonitoring(uint32_t input) override;
  bool StartStream(uint32_t input, uint32_t streamKind, ipcapture::IVideoFrameSink* sink,
                   ipcapture::IStreamRequest* request) override;
  bool StopStream(uint32_t input, uint32_t streamKind) override;

  // The stream request as channel parameters, read in the host's order.
  static STREAM_PARAMS BuildParams(ipcapture::IStreamRequest* request, uint32_t streamKind);

 private:
  // Shared so that a query running on one host thread keeps its channel
  // alive while another host thread stops the input and lets go of it.
  using ChannelRef = std::shared_ptr<ICameraChannel>;
  struct Entry {
    ChannelRef recording;
    ChannelRef live;
    ChannelRef remote;
    ChannelRef kind3;  // no stream of this kind is made
    IMotionChannel* motion = nullptr;
    ChannelRef& Stream(uint32_t kind);
  };

  // Channels the host stopped from inside one of their own callbacks: the
  // stop is requested at once (no channel, motion included, delivers
  // anything after it), and the threads are joined on the reaper thread (the
  // destructor of the item does it, handled or dropped).
  struct DeferredStop {
    std::vector<ChannelRef> channels;
    IMotionChannel* motion = nullptr;
    ~DeferredStop();
  };
  class CReaper : public CQueueThread<DeferredStop> {
   protected:
    void HandleItem(DeferredStop*) override {}
  };

  static void StopAndRelease(ChannelRef& channel);
  // For a caller inside a host callback of a channel: requests the stop and
  // hands the rest to the reaper.
  void DeferStop(std::vector<ChannelRef> channels, IMotionChannel* motion);
  ChannelRef RecordingChannel(uint32_t input);
  bool GetStatisticsText(uint32_t input, uint32_t kind, uint16_t* value, uint32_t size);
  IEdgeStorageHandler* EdgeStorageHandler();

  IVideoChannelCreator* creator_;
  CRecursiveLock lock_;
  std::vector<Entry> inputs_;
  // Set by the host from any thread; read by later StartCapture calls.
  std::atomic<bool> edgeStorageEnabled_{false};
  // Made once under lock_ and kept until destruction.
  std::unique_ptr<IEdgeStorageHandler> edgeStorageHandler_;
  CRecursiveLock reaperLock_;
  CReaper reaper_;
};

}  // namespace orbisan
