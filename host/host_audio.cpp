#include "host/host_audio.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace strandline::host {

namespace {

void Put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

// WAVE with a mu-law format chunk (format 7), 8000 Hz, mono, 8 bits.
constexpr size_t kWavHeaderSize = 58;

void WavHeader(uint8_t (&h)[kWavHeaderSize], uint32_t dataBytes) {
  std::memset(h, 0, sizeof h);
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, static_cast<uint32_t>(kWavHeaderSize - 8 + dataBytes + (dataBytes & 1)));
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 18);    // format chunk size
  Put16(h + 20, 7);     // mu-law
  Put16(h + 22, 1);     // channels
  Put32(h + 24, 8000);  // samples per second
  Put32(h + 28, 8000);  // bytes per second
  Put16(h + 32, 1);     // block align
  Put16(h + 34, 8);     // bits per sample
  Put16(h + 36, 0);     // extension size
  std::memcpy(h + 38, "fact", 4);
  Put32(h + 42, 4);
  Put32(h + 46, dataBytes);  // samples
  std::memcpy(h + 50, "data", 4);
  Put32(h + 54, dataBytes);
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i]) return false;
  }
  return true;
}

}  // namespace

HostAudioSample::HostAudioSample(uint32_t fourcc, uint32_t size, const char* streamName)
    : capacity_(size), fourcc_(fourcc), streamName_(streamName != nullptr ? streamName : "") {}

bool HostAudioSample::SetData(const uint8_t* data, uint32_t size) {
  if (size > capacity_ || (data == nullptr && size != 0)) return false;
  data_.assign(data, data + size);
  return true;
}

void HostAudioSample::SetFormat(uint32_t sampleRate, uint32_t bitsPerSample, bool stereo) {
  sampleRate_ = sampleRate;
  bits_ = bitsPerSample;
  stereo_ = stereo;
}

AudioRecorder::~AudioRecorder() { Close(); }

bool AudioRecorder::Open(const std::string& path, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  wav_ = EndsWith(path, ".wav");
  if (wav_) {
    uint8_t header[kWavHeaderSize];
    WavHeader(header, 0);
    std::fwrite(header, 1, sizeof header, file_);
  }
  return true;
}

bool AudioRecorder::OnAudioSample(orbisan::ipcapture::IAudioSample* sample) {
  if (sample == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t size = sample->GetDataSize();
  if (file_ != nullptr && size != 0 && std::fwrite(sample->GetData(), 1, size, file_) != size) return false;
  frames_.fetch_add(1);
  bytes_.fetch_add(size);
  return true;
}

void AudioRecorder::OnAudioState(uint32_t, uint32_t state) { state_.store(state); }

void AudioRecorder::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  if (wav_) {
    const auto dataBytes = static_cast<uint32_t>(bytes_.load());
    if (dataBytes & 1) std::fputc(0, file_);  // chunks are padded to even sizes
    uint8_t header[kWavHeaderSize];
    WavHeader(header, dataBytes);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, file_);
  }
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace strandline::host
