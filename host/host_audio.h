#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "strandline/audio_capture.h"

namespace strandline::host {

// An audio record with its own buffer.
class HostAudioSample : public orbisan::ipcapture::IAudioSample {
 public:
  HostAudioSample(uint32_t fourcc, uint32_t size, const char* streamName);
  bool SetData(const uint8_t* data, uint32_t size) override;
  const uint8_t* GetData() override { return data_.data(); }
  uint32_t GetDataSize() override { return static_cast<uint32_t>(data_.size()); }
  void GetTime(orbisan::SYSTEMTIME* utc) override {
    if (utc != nullptr) *utc = time_;
  }
  void SetTime(const orbisan::SYSTEMTIME* utc) override {
    if (utc != nullptr) time_ = *utc;
  }
  const char* GetStreamName() override { return streamName_.c_str(); }
  uint32_t GetSampleRate() override { return sampleRate_; }
  uint32_t GetBitsPerSample() override { return bits_; }
  bool IsStereo() override { return stereo_; }
  uint32_t GetBitRate() override { return bitRate_; }
  uint32_t GetFourCC() override { return fourcc_; }
  void SetFourCC(uint32_t fourcc) override { fourcc_ = fourcc; }
  void SetBitRate(uint32_t bitsPerSecond) override { bitRate_ = bitsPerSecond; }
  uint32_t GetChannelId() override { return channelId_; }
  void SetChannelId(uint32_t channelId) override { channelId_ = channelId; }
  uint32_t GetFlags() override { return 0; }
  void SetFlags(uint32_t) override {}
  uint32_t GetDuration() override { return 0; }
  void SetDuration(uint32_t) override {}
  void* GetHostData() override { return nullptr; }
  void SetFormat(uint32_t sampleRate, uint32_t bitsPerSample, bool stereo) override;

 private:
  uint32_t capacity_;
  std::vector<uint8_t> data_;
  uint32_t fourcc_;
  std::string streamName_;
  orbisan::SYSTEMTIME time_{};
  uint32_t sampleRate_ = 0;
  uint32_t bits_ = 0;
  bool stereo_ = false;
  uint32_t bitRate_ = 0;
  uint32_t channelId_ = 0;
};

// Takes the audio of one channel: appends every frame's bytes to a file
// (with a WAV header for mu-law when the name ends in ".wav") and counts.
class AudioRecorder : public orbisan::ipcapture::IAudioInputSink {
 public:
  ~AudioRecorder() override;
  bool Open(const std::string& path, std::string& error);
  bool OnAudioSample(orbisan::ipcapture::IAudioSample* sample) override;
  void OnAudioState(uint32_t channelId, uint32_t state) override;
  // Writes the final sizes into the WAV header and closes the file.
  void Close();

  uint64_t Frames() const { return frames_.load(); }
  uint64_t Bytes() const { return bytes_.load(); }
  uint32_t State() const { return state_.load(); }

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool wav_ = false;
  std::atomic<uint64_t> frames_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint32_t> state_{0};
};

}  // namespace strandline::host
