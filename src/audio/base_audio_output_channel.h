#pragma once

#include <cstdint>
#include <vector>

#include "audio/iaudio_output_channel.h"
#include "device/idriver.h"
#include "runtime/queue_thread.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// A work item of an output channel's queue.
struct CAudioItem {
  enum Type : uint32_t { kConnect = 0, kData = 1, kRefresh = 2 };
  explicit CAudioItem(Type t) : type(t) {}
  virtual ~CAudioItem() = default;
  Type type;
};

// One buffer of mu-law bytes, copied from the host's record when queued.
struct CAudioDataItem : CAudioItem {
  CAudioDataItem(const uint8_t* data, uint32_t size) : CAudioItem(kData), bytes(data, data + size) {}
  std::vector<uint8_t> bytes;
};

// What every loudspeaker channel shares whatever carries the audio: the state
// table with its reports, the queue with its connect, data and refresh items,
// and the retry every 1500 ms after a failure.
class CBaseAudioOutputChannel : public CQueueThread<CAudioItem>, public IAudioOutputChannel {
 public:
  CBaseAudioOutputChannel(IDriver* driver, uint32_t channelId, uint32_t cameraChannel,
                          ipcapture::IAudioOutputObserver* observer, ipcapture::IAudioFormatList* formats);

  bool Start() override;
  bool Stop() override;
  uint32_t GetState() override;
  bool GetParameters(ipcapture::IAudioParameters* parameters) override;
  bool Send(ipcapture::IAudioSample* buffer) override;

  static constexpr uint32_t kFourCC = ipcapture::kFourCC_711M;
  static constexpr uint32_t kSampleRate = 8000;
  static constexpr uint32_t kBitRate = 64000;
  static constexpr uint32_t kRetryMs = 1500;

 protected:
  // The camera takes audio now (an HTTP check).
  virtual bool CheckCamera() = 0;
  // Sends one buffer; false ends the session.
  virtual bool SendBuffer(const std::vector<uint8_t>& muLaw) = 0;
  // Ends the camera session; true when nothing is left open.
  virtual bool CloseSession() = 0;

  void HandleItem(CAudioItem* item) override;
  bool SetState(uint32_t state);
  IDriver* Driver() const { return driver_; }
  uint16_t CameraChannel() const { return cameraChannel_; }
  uint32_t ChannelId() const { return channelId_; }

 private:
  // The thread's own start and stop take a name and skip the state table; callers use the ones above.
  using CQueueThread<CAudioItem>::Start;
  bool HasFormat();
  void Fail();
  bool Reconnect();

  IDriver* driver_;
  uint16_t cameraChannel_;
  uint32_t channelId_;
  ipcapture::IAudioOutputObserver* observer_;
  ipcapture::IAudioFormatList* formats_;
  CRecursiveLock stateLock_;
  uint32_t state_ = ipcapture::kAudioStopped;
};

}  // namespace orbisan
