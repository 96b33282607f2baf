#pragma once

#include <cstdint>

#include "strandline/system_time.h"

namespace orbisan::ipcapture {

// Format codes: the first character is the lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr uint32_t kFourCC_H264 = MakeFourCC('H', '2', '6', '4');  // H.264 key frame
constexpr uint32_t kFourCC_I264 = MakeFourCC('I', '2', '6', '4');  // other H.264 access unit
constexpr uint32_t kFourCC_DIVX = MakeFourCC('D', 'I', 'V', 'X');  // MPEG-4 key frame
constexpr uint32_t kFourCC_DIVI = MakeFourCC('D', 'I', 'V', 'I');  // other MPEG-4 frame
constexpr uint32_t kFourCC_JPEG = MakeFourCC('J', 'P', 'E', 'G');
constexpr uint32_t kFourCC_MEMD = MakeFourCC('M', 'E', 'M', 'D');  // motion data

// The host's frame record, filled by the driver before delivery.
class IMediaSample {
 public:
  virtual ~IMediaSample() = default;
  virtual uint32_t GetSize() = 0;  // capacity in bytes
  virtual uint8_t* GetBuffer() = 0;
  virtual uint32_t GetDataSize() = 0;
  virtual void SetDataSize(uint32_t size) = 0;
  virtual void SetTimeNow() = 0;
  virtual void SetTime(const SYSTEMTIME* utc) = 0;
  virtual void GetTime(SYSTEMTIME* utc) = 0;
  virtual const char* GetStreamName() = 0;
  virtual uint32_t GetFourCC() = 0;
  virtual void SetFourCC(uint32_t fourcc) = 0;
  virtual uint32_t GetHeight() = 0;
  virtual void SetHeight(uint32_t height) = 0;
  virtual uint32_t GetWidth() = 0;
  virtual void SetWidth(uint32_t width) = 0;
  virtual uint32_t GetResolutionClass() = 0;
  virtual void SetResolutionClass(uint32_t resolutionClass) = 0;
};

class IAudioSample;  // audio record, made through slots 3 and 4 of the allocator

class IMediaSampleAllocator {
 public:
  virtual ~IMediaSampleAllocator() = default;
  virtual uint32_t GetVersion() = 0;  // not called
  virtual IMediaSample* CreateSample(uint32_t fourcc, uint32_t size, const char* streamName) = 0;
  virtual IAudioSample* CreateAudioSample(uint32_t fourcc, uint32_t size, const char* streamName) = 0;
  virtual void ReleaseAudioSample(IAudioSample* sample) = 0;
  virtual uint32_t GetFreeCount() = 0;  // not called
  virtual void ReleaseSample(IMediaSample* sample) = 0;
};

// Where the frames of one stream go.
class IVideoFrameSink {
 public:
  virtual ~IVideoFrameSink() = default;
  // True when the host accepted the frame.
  virtual bool OnFrame(IMediaSample* sample) = 0;
  virtual void OnFormatChanged() = 0;  // not called
  virtual void OnSignalLost() = 0;
};

}  // namespace orbisan::ipcapture
