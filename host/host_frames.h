#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/container_output.h"
#include "host/frame_spool.h"
#include "host/gap_log.h"
#include "src/runtime/page_allocator.h"
#include "strandline/media_sample.h"
#include "strandline/stream_request.h"

namespace strandline::host {

// A frame record with its own buffer.
class HostSample : public orbisan::ipcapture::IMediaSample {
 public:
  HostSample(uint32_t fourcc, uint32_t size, const char* streamName);
  uint32_t GetSize() override { return static_cast<uint32_t>(buffer_.size()); }
  uint8_t* GetBuffer() override { return buffer_.data(); }
  uint32_t GetDataSize() override { return dataSize_; }
  void SetDataSize(uint32_t size) override { dataSize_ = size <= buffer_.size() ? size : 0; }
  void SetTimeNow() override;
  void SetTime(const orbisan::SYSTEMTIME* utc) override {
    if (utc != nullptr) time_ = *utc;
  }
  void GetTime(orbisan::SYSTEMTIME* utc) override {
    if (utc != nullptr) *utc = time_;
  }
  const char* GetStreamName() override { return streamName_.c_str(); }
  uint32_t GetFourCC() override { return fourcc_; }
  void SetFourCC(uint32_t fourcc) override { fourcc_ = fourcc; }
  uint32_t GetHeight() override { return height_; }
  void SetHeight(uint32_t height) override { height_ = height; }
  uint32_t GetWidth() override { return width_; }
  void SetWidth(uint32_t width) override { width_ = width; }
  uint32_t GetResolutionClass() override { return resolutionClass_; }
  void SetResolutionClass(uint32_t c) override { resolutionClass_ = c; }

 private:
  // A key frame's record is pages of its own, given back when it is written:
  // from malloc, every stream's thread would keep such a hole in its arena.
  std::vector<uint8_t, orbisan::TPageAllocator<uint8_t>> buffer_;
  uint32_t dataSize_ = 0;
  uint32_t fourcc_;
  std::string streamName_;
  orbisan::SYSTEMTIME time_{};
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t resolutionClass_ = 0;
};

class HostAllocator : public orbisan::ipcapture::IMediaSampleAllocator {
 public:
  uint32_t GetVersion() override { return 1; }
  orbisan::ipcapture::IMediaSample* CreateSample(uint32_t fourcc, uint32_t size, const char* streamName) override;
  orbisan::ipcapture::IAudioSample* CreateAudioSample(uint32_t fourcc, uint32_t size, const char* streamName) override;
  void ReleaseAudioSample(orbisan::ipcapture::IAudioSample* sample) override;
  uint32_t GetFreeCount() override { return 0; }
  void ReleaseSample(orbisan::ipcapture::IMediaSample* sample) override;
  int Outstanding() const { return created_.load() - released_.load(); }

 private:
  std::atomic<int> created_{0};
  std::atomic<int> released_{0};
};

// Counters of one recorded stream.
struct StreamStats {
  uint64_t frames = 0;
  uint64_t keyframes = 0;
  uint64_t bytes = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t fourcc = 0;
  int64_t firstFrameMs = -1;  // since the stream was requested
  int64_t lastFrameMs = -1;   // since the stream was requested
  uint64_t signalLost = 0;
  uint64_t edgeFrames = 0;  // played back from the camera's storage
};

// Takes the frames of one stream: appends their bytes to the output file and
// a line per frame to the index file, and keeps the counters.
class RecordingSink : public orbisan::ipcapture::IVideoFrameSink {
 public:
  RecordingSink() = default;
  ~RecordingSink() override;
  bool OpenOutputs(const std::string& out, const std::string& index, std::string& error);
  void MarkRequested();
  // Frames go to the outputs in capture-time order when the outputs close
  // (frames from the camera's storage arrive after later live ones).
  bool OrderByCaptureTime(std::string& error);
  bool OnFrame(orbisan::ipcapture::IMediaSample* sample) override;
  void OnFormatChanged() override {}
  void OnSignalLost() override;
  StreamStats Stats();
  void CloseOutputs();
  GapLog& Gaps() { return gaps_; }

  static bool IsKeyFrame(uint32_t fourcc);
  static std::string FourCCText(uint32_t fourcc);
  // "2026-12-06T09:10:11.123Z"
  static std::string IsoTime(const orbisan::SYSTEMTIME& t);
  // Whether the driver played the frame back from the camera's storage.
  static bool IsEdgeFrame(orbisan::ipcapture::IMediaSample* sample);
  // The host's UTC clock, in milliseconds since the epoch.
  static int64_t UtcNowMs();

 private:
  bool WriteFrame(const uint8_t* data, const SpooledFrame& frame);

  std::mutex mutex_;
  std::unique_ptr<FrameSpool> spool_;
  uint64_t written_ = 0;
  std::FILE* out_ = nullptr;
  std::FILE* index_ = nullptr;
  std::unique_ptr<IContainerOutput> container_;  // for .mkv and .mp4 instead of out_
  bool outIsStdout_ = false;
  bool endsWithDelimiter_ = false;
  StreamStats stats_;
  int64_t requestedMs_ = 0;
  GapLog gaps_;
};

// A stream request as a recorder would hand it over.
class HostStreamRequest : public orbisan::ipcapture::IStreamRequest,
                          private orbisan::ipcapture::IVideoFormat,
                          private orbisan::ipcapture::IStreamSettings,
                          private orbisan::ipcapture::IFrameSize {
 public:
  HostStreamRequest(uint16_t codec, uint16_t width, uint16_t height, uint16_t frameRate, uint16_t bitrate)
      : codec_(codec), width_(width), height_(height), frameRate_(frameRate), bitrate_(bitrate) {}
  orbisan::ipcapture::IVideoFormat* GetVideoFormat() override { return this; }
  orbisan::ipcapture::IStreamSettings* GetStreamSettings() override { return this; }
  uint32_t GetPriority() override { return 0; }
  const char* GetStreamId() override { return ""; }
  orbisan::ipcapture::IPrivacyZoneList* GetPrivacyMask() override { return nullptr; }
  orbisan::ipcapture::IFrameSize* FrameSize() { return this; }

 private:
  uint16_t GetFormatVersion() override { return 1; }
  uint16_t GetColorDepth() override { return 24; }
  orbisan::ipcapture::IFrameSize* GetFrameSize() override { return this; }
  uint16_t GetCodec() override { return codec_; }
  uint16_t GetFrameRate() override { return frameRate_; }
  uint16_t GetQuality() override { return 0; }
  uint16_t GetBitrate() override { return bitrate_; }
  uint16_t IsMotionDetectionEnabled() override { return 0; }
  uint16_t GetWidth() override { return width_; }
  uint16_t GetHeight() override { return height_; }

  uint16_t codec_, width_, height_, frameRate_, bitrate_;
};

}  // namespace strandline::host
