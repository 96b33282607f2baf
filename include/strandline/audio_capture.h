#pragma once

#include <cstdint>

#include "strandline/system_time.h"

namespace orbisan::ipcapture {

// G.711 mu-law, the first character in the lowest byte.
constexpr uint32_t kFourCC_711M = static_cast<uint32_t>('7') | (static_cast<uint32_t>('1') << 8) |
                                  (static_cast<uint32_t>('1') << 16) | (static_cast<uint32_t>('M') << 24);

// States of an audio channel, as reported to the host.
enum AudioChannelState : uint32_t {
  kAudioStopped = 0,
  kAudioStarting = 1,
  kAudioRunning = 2,
  kAudioStopping = 3,
  kAudioFailed = 4,
  kAudioBroken = 5,
};

// The host's audio record, made and released through the allocator's audio
// slots. The driver fills it with SetFourCC, SetData, SetFormat, SetBitRate,
// SetChannelId and SetTime; the getters are for the host.
class IAudioSample {
 public:
  virtual ~IAudioSample() = default;
  virtual bool SetData(const uint8_t* data, uint32_t size) = 0;  // copies
  virtual const uint8_t* GetData() = 0;
  virtual uint32_t GetDataSize() = 0;
  virtual void GetTime(SYSTEMTIME* utc) = 0;
  virtual void SetTime(const SYSTEMTIME* utc) = 0;
  virtual const char* GetStreamName() = 0;
  virtual uint32_t GetSampleRate() = 0;
  virtual uint32_t GetBitsPerSample() = 0;
  virtual bool IsStereo() = 0;
  virtual uint32_t GetBitRate() = 0;
  virtual uint32_t GetFourCC() = 0;
  virtual void SetFourCC(uint32_t fourcc) = 0;
  virtual void SetBitRate(uint32_t bitsPerSecond) = 0;
  virtual uint32_t GetChannelId() = 0;
  virtual void SetChannelId(uint32_t channelId) = 0;
  virtual uint32_t GetFlags() = 0;            // not called
  virtual void SetFlags(uint32_t flags) = 0;  // not called
  virtual uint32_t GetDuration() = 0;         // not called
  virtual void SetDuration(uint32_t ms) = 0;  // not called
  virtual void* GetHostData() = 0;            // not called
  virtual void SetFormat(uint32_t sampleRate, uint32_t bitsPerSample, bool stereo) = 0;
};

// Where the audio of one host channel goes; called from the driver's threads.
class IAudioInputSink {
 public:
  virtual ~IAudioInputSink() = default;
  // True when the host took the frame.
  virtual bool OnAudioSample(IAudioSample* sample) = 0;
  virtual void OnAudioState(uint32_t channelId, uint32_t state) = 0;
};

// The driver's audio capture object: one input channel per host channel id.
class IIPAudioCapture2 {
 public:
  virtual ~IIPAudioCapture2() = default;
  virtual uint32_t GetOpenChannelCount() = 0;
  // hostValue is kept with the channel and not interpreted.
  virtual bool OpenChannel(uint32_t channelId, uint32_t cameraChannel, IAudioInputSink* sink, void* hostValue) = 0;
  virtual bool CloseChannel(uint32_t channelId) = 0;
  virtual uint32_t GetChannelState(uint32_t channelId) = 0;
  virtual bool Reserved5(uint32_t a, void* b, void* c) = 0;  // always false
  virtual bool Reserved6(uint32_t a, void* b, void* c) = 0;  // always false
};

}  // namespace orbisan::ipcapture
