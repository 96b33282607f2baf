#pragma once

// Host-side frame records for unit tests: an allocator whose samples keep
// what the driver wrote into them, and a sink that stores accepted frames.

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_audio.h"
#include "strandline/audio_capture.h"
#include "strandline/media_sample.h"

namespace orbisan::test {

class TestSample : public ipcapture::IMediaSample {
 public:
  TestSample(uint32_t fourcc, uint32_t size, const char* name)
      : buffer(size), fourcc_(fourcc), streamName(name ? name : "") {}
  uint32_t GetSize() override { return static_cast<uint32_t>(buffer.size()); }
  uint8_t* GetBuffer() override { return buffer.data(); }
  uint32_t GetDataSize() override { return dataSize; }
  void SetDataSize(uint32_t size) override { dataSize = size; }
  void SetTimeNow() override {}
  void SetTime(const SYSTEMTIME* utc) override {
    if (utc) time = *utc;
  }
  void GetTime(SYSTEMTIME* utc) override {
    if (utc) *utc = time;
  }
  const char* GetStreamName() override { return streamName.c_str(); }
  uint32_t GetFourCC() override { return fourcc_; }
  void SetFourCC(uint32_t fourcc) override { fourcc_ = fourcc; }
  uint32_t GetHeight() override { return height; }
  void SetHeight(uint32_t h) override { height = h; }
  uint32_t GetWidth() override { return width; }
  void SetWidth(uint32_t w) override { width = w; }
  uint32_t GetResolutionClass() override { return resolutionClass; }
  void SetResolutionClass(uint32_t c) override { resolutionClass = c; }

  std::string Bytes() const { return std::string(reinterpret_cast<const char*>(buffer.data()), dataSize); }

  std::vector<uint8_t> buffer;
  uint32_t dataSize = 0;
  uint32_t fourcc_;
  std::string streamName;
  SYSTEMTIME time{};
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t resolutionClass = 0;
};

// A copy of one delivered frame.
struct DeliveredFrame {
  uint32_t fourcc;
  uint32_t width;
  uint32_t height;
  uint32_t resolutionClass;
  SYSTEMTIME time;
  std::string bytes;
  std::string streamName;
};

// The host's audio object: keeps the frames it takes and every state report.
class TestAudioSink : public ipcapture::IAudioInputSink {
 public:
  bool OnAudioSample(ipcapture::IAudioSample* sample) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    if (keepFrames) frames_.emplace_back(sample->GetData(), sample->GetData() + sample->GetDataSize());
    return accept;
  }
  void OnAudioState(uint32_t, uint32_t state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    states_.push_back(state);
  }
  std::vector<std::vector<uint8_t>> Frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  std::vector<uint32_t> States() {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }
  size_t FrameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  std::atomic<bool> accept{true};
  // Off for long runs, as TestSink::keepRecords.
  std::atomic<bool> keepFrames{true};

 private:
  std::mutex mutex_;
  size_t count_ = 0;
  std::vector<std::vector<uint8_t>> frames_;
  std::vector<uint32_t> states_;
};

class TestAllocator : public ipcapture::IMediaSampleAllocator {
 public:
  uint32_t GetVersion() override { return 1; }
  ipcapture::IMediaSample* CreateSample(uint32_t fourcc, uint32_t size, const char* streamName) override {
    if (failCreate) return nullptr;
    ++created;
    return new TestSample(fourcc, size, streamName);
  }
  // The reference host's audio record, so that the driver is tested against what a host hands out.
  ipcapture::IAudioSample* CreateAudioSample(uint32_t fourcc, uint32_t size, const char* streamName) override {
    if (failCreate) return nullptr;
    ++created;
    return new strandline::host::HostAudioSample(fourcc, size, streamName);
  }
  void ReleaseAudioSample(ipcapture::IAudioSample* sample) override {
    ++released;
    delete static_cast<strandline::host::HostAudioSample*>(sample);
  }
  uint32_t GetFreeCount() override { return 0; }
  void ReleaseSample(ipcapture::IMediaSample* sample) override {
    ++released;
    delete static_cast<TestSample*>(sample);
  }

  std::atomic<bool> failCreate{false};
  std::atomic<int> created{0};
  std::atomic<int> released{0};
};

class TestSink : public ipcapture::IVideoFrameSink {
 public:
  ~TestSink() override {
    for (std::FILE* file : files_) {
      if (file != nullptr) std::fclose(file);
    }
  }
  bool OnFrame(ipcapture::IMediaSample* sample) override {
    auto* s = static_cast<TestSample*>(sample);
    if (throwOnFrame) throw std::runtime_error("sink failure");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
      const bool edge = s->streamName.ends_with("::EdgeChannel");
      edgeCount_ += edge;
      if (s->GetFourCC() == ipcapture::kFourCC_MEMD) {
        if (s->dataSize == 2) motion = s->buffer[1];
      } else if (std::FILE* file = files_[edge]) {
        std::fwrite(s->buffer.data(), 1, s->dataSize, file);
      }
      if (keepRecords) {
        frames_.push_back(
            {s->GetFourCC(), s->width, s->height, s->resolutionClass, s->time, s->Bytes(), s->streamName});
      }
    }
    CallbackFourCC() = s->GetFourCC();
    if (afterFrame) afterFrame();
    return accept;
  }
  void OnFormatChanged() override {}
  void OnSignalLost() override {
    ++signalLost;
    if (afterSignalLost) afterSignalLost();
  }

  // The FourCC of the frame whose OnFrame runs on this thread (for afterFrame).
  static uint32_t& CallbackFourCC() {
    thread_local uint32_t fourcc = 0;
    return fourcc;
  }
  std::vector<DeliveredFrame> Frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  size_t FrameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  // Frames the driver played back from the camera's storage.
  size_t EdgeFrameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return edgeCount_;
  }
  // Writes the bytes of every live and every played-back video frame, in
  // order, to a file each (set before the stream starts).
  bool WriteVideoTo(const std::string& live, const std::string& edge) {
    files_[0] = std::fopen(live.c_str(), "wb");
    files_[1] = std::fopen(edge.c_str(), "wb");
    return files_[0] != nullptr && files_[1] != nullptr;
  }
  void FlushVideo() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::FILE* file : files_) {
      if (file != nullptr) std::fflush(file);
    }
  }

  std::atomic<bool> accept{true};
  std::atomic<bool> throwOnFrame{false};
  // Off for long runs: frames are only counted, so that the test's own
  // records do not grow the memory it measures.
  std::atomic<bool> keepRecords{true};
  std::atomic<int> signalLost{0};
  // The motion state of the last motion frame (-1 before the first).
  std::atomic<int> motion{-1};
  // What the host does inside the callbacks (set before the stream starts).
  std::function<void()> afterFrame;
  std::function<void()> afterSignalLost;

 private:
  std::mutex mutex_;
  size_t count_ = 0;
  size_t edgeCount_ = 0;
  std::vector<DeliveredFrame> frames_;
  std::FILE* files_[2] = {nullptr, nullptr};  // live, edge
};

// The motion byte of every "MEMD" frame a sink took, in order.
inline std::vector<int> MotionStates(TestSink& sink) {
  std::vector<int> out;
  for (const auto& frame : sink.Frames()) {
    if (frame.fourcc == ipcapture::kFourCC_MEMD && frame.bytes.size() == 2) out.push_back(frame.bytes[1]);
  }
  return out;
}

}  // namespace orbisan::test
