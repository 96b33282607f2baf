#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "audio/audio_input_channel.h"
#include "device/idriver.h"
#include "runtime/recursive_lock.h"
#include "runtime/time_utils.h"
#include "strandline/audio_capture.h"

namespace orbisan {

// What every audio input channel shares whatever carries its stream: the
// host's audio object, the state with its transition table, the time of the
// last accepted frame and the log of the signal's ups and downs.
class CBaseAudioCaptureChannel : public IAudioInputChannel {
 public:
  CBaseAudioCaptureChannel(IDriver* driver, uint32_t cameraChannel, uint32_t channelId,
                           ipcapture::IAudioInputSink* sink, void* hostValue);

  uint32_t GetState() override;

  uint32_t CameraChannel() const { return cameraChannel_; }
  uint32_t ChannelId() const { return channelId_; }

 protected:
  IDriver* Driver() const { return driver_; }
  // Takes the transition when the table allows it and tells the host;
  // false (nothing changed) otherwise.
  bool SetState(uint32_t state);
  // Hands a frame to the host while running; a taken frame restarts the
  // silence clock and marks the signal good.
  bool AcceptFrame(ipcapture::IAudioSample* sample);
  // Logs the signal's state when it differs from the one logged last.
  void SetDeviceState(bool ok);
  CTime& LastFrameTime() { return lastFrame_; }
  // "camera <address>" or "video-server <address> (channel <n>)".
  std::string DeviceText();

 private:
  IDriver* driver_;
  uint32_t cameraChannel_;
  uint32_t channelId_;
  ipcapture::IAudioInputSink* sink_;
  void* hostValue_;
  CRecursiveLock stateLock_;
  uint32_t state_ = ipcapture::kAudioStopped;  // guarded by stateLock_
  bool signalOk_ = false;                      // guarded by stateLock_
  CTime lastFrame_;
};

}  // namespace orbisan
