#pragma once

#include <cstdint>

#include "strandline/audio_capture.h"

namespace orbisan::ipcapture {

// One audio format the host offers for a loudspeaker channel.
class IAudioFormat {
 public:
  virtual ~IAudioFormat() = default;
  virtual bool IsEnabled() = 0;
  virtual uint32_t GetFourCC() = 0;
};

// The host's offered formats, in its order of preference.
class IAudioFormatList {
 public:
  virtual ~IAudioFormatList() = default;
  virtual uint32_t GetCount() = 0;
  virtual IAudioFormat* GetFormat(uint32_t index) = 0;  // null past the end
};

// Where the driver writes the format an output channel takes.
class IAudioParameters {
 public:
  virtual ~IAudioParameters() = default;
  virtual void SetFourCC(uint32_t fourcc) = 0;
  virtual void SetSampleRate(uint32_t samplesPerSecond) = 0;
  virtual void SetBitRate(uint32_t bitsPerSecond) = 0;
  virtual void SetBitsPerSample(uint32_t bits) = 0;  // not called
  virtual void SetStereo(bool stereo) = 0;
};

// Told every state change of an output channel, on the channel's thread.
class IAudioOutputObserver {
 public:
  virtual ~IAudioOutputObserver() = default;
  virtual void OnAudioOutputState(uint32_t channelId, uint32_t state) = 0;
};

// The driver's audio sender: one loudspeaker channel per host channel id.
// The host's buffers are audio records (IAudioSample) it fills itself: data,
// size, format code, sample rate, bit rate, stereo flag and channel id.
class IIPAudioSender {
 public:
  virtual ~IIPAudioSender() = default;
  virtual uint32_t GetOpenChannelCount() = 0;
  virtual bool OpenChannel(uint32_t channelId, uint32_t cameraChannel, IAudioOutputObserver* observer,
                           IAudioFormatList* formats) = 0;
  virtual bool CloseChannel(uint32_t channelId) = 0;
  // Queues the buffer for its channel; the driver copies what it keeps.
  virtual bool SendAudio(IAudioSample* buffer) = 0;
  virtual bool GetChannelParameters(uint32_t channelId, IAudioParameters* parameters) = 0;
  virtual uint32_t GetChannelState(uint32_t channelId) = 0;
  virtual bool Reserved7(uint32_t a, void* b, void* c) = 0;  // always false
  virtual bool Reserved8(uint32_t a, void* b, void* c) = 0;  // always false
};

}  // namespace orbisan::ipcapture
