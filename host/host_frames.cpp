#include "host/host_frames.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>

#include "host/host_audio.h"

namespace strandline::host {

namespace {

// Milliseconds since the epoch of a UTC capture time.
int64_t EpochMs(const orbisan::SYSTEMTIME& t) {
  std::tm tm{};
  tm.tm_year = t.wYear - 1900;
  tm.tm_mon = t.wMonth - 1;
  tm.tm_mday = t.wDay;
  tm.tm_hour = t.wHour;
  tm.tm_min = t.wMinute;
  tm.tm_sec = t.wSecond;
  return static_cast<int64_t>(::timegm(&tm)) * 1000 + t.wMilliseconds;
}

// The UTC calendar time of milliseconds since the epoch (the inverse of EpochMs).
orbisan::SYSTEMTIME UtcTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  orbisan::SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
  t.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
  t.wDay = static_cast<uint16_t>(tm.tm_mday);
  t.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.wHour = static_cast<uint16_t>(tm.tm_hour);
  t.wMinute = static_cast<uint16_t>(tm.tm_min);
  t.wSecond = static_cast<uint16_t>(tm.tm_sec);
  t.wMilliseconds = static_cast<uint16_t>(ms % 1000);
  return t;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

HostSample::HostSample(uint32_t fourcc, uint32_t size, const char* streamName)
    : buffer_(size), fourcc_(fourcc), streamName_(streamName != nullptr ? streamName : "") {}

void HostSample::SetTimeNow() { time_ = UtcTime(RecordingSink::UtcNowMs()); }

int64_t RecordingSink::UtcNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

orbisan::ipcapture::IMediaSample* HostAllocator::CreateSample(uint32_t fourcc, uint32_t size, const char* streamName) {
  if (size > 64u * 1024 * 1024) return nullptr;
  ++created_;
  return new HostSample(fourcc, size, streamName);
}

orbisan::ipcapture::IAudioSample* HostAllocator::CreateAudioSample(uint32_t fourcc, uint32_t size,
                                                                   const char* streamName) {
  if (size > 16u * 1024 * 1024) return nullptr;
  ++created_;
  return new HostAudioSample(fourcc, size, streamName);
}

void HostAllocator::ReleaseAudioSample(orbisan::ipcapture::IAudioSample* sample) {
  if (sample == nullptr) return;
  ++released_;
  delete static_cast<HostAudioSample*>(sample);
}

void HostAllocator::ReleaseSample(orbisan::ipcapture::IMediaSample* sample) {
  if (sample == nullptr) return;
  ++released_;
  delete static_cast<HostSample*>(sample);
}

RecordingSink::~RecordingSink() { CloseOutputs(); }

bool RecordingSink::OpenOutputs(const std::string& out, const std::string& index, std::string& error) {
  if (out == "-") {
    out_ = stdout;
    outIsStdout_ = true;
  } else if (WantsContainer(out)) {
    container_ = LoadContainerOutput(error);
    if (container_ == nullptr || !container_->Open(out, error)) return false;
  } else if (!out.empty()) {
    out_ = std::fopen(out.c_str(), "wb");
    if (out_ == nullptr) {
      error = "cannot write " + out + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!index.empty()) {
    index_ = std::fopen(index.c_str(), "w");
    if (index_ == nullptr) {
      error = "cannot write " + index + ": " + std::strerror(errno);
      return false;
    }
    std::fputs("n,utc,fourcc,width,height,bytes,key,source\n", index_);
  }
  return true;
}

void RecordingSink::MarkRequested() {
  std::lock_guard<std::mutex> lock(mutex_);
  requestedMs_ = NowMs();
  gaps_.Requested(UtcNowMs());
}

bool RecordingSink::IsKeyFrame(uint32_t fourcc) {
  using namespace orbisan::ipcapture;
  return fourcc == kFourCC_H264 || fourcc == kFourCC_DIVX || fourcc == kFourCC_JPEG;
}

std::string RecordingSink::FourCCText(uint32_t fourcc) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
    text[static_cast<size_t>(i)] = (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}

std::string RecordingSink::IsoTime(const orbisan::SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  return text;
}

bool RecordingSink::OnFrame(orbisan::ipcapture::IMediaSample* sample) {
  if (sample == nullptr) return false;
  const uint32_t size = sample->GetDataSize();
  const uint8_t* data = sample->GetBuffer();
  if (size == 0 || data == nullptr) return false;
  orbisan::SYSTEMTIME time;
  sample->GetTime(&time);
  const uint32_t fourcc = sample->GetFourCC();
  const bool key = IsKeyFrame(fourcc);
  SpooledFrame frame;
  frame.timeMs = EpochMs(time);
  frame.fourcc = fourcc;
  frame.width = sample->GetWidth();
  frame.height = sample->GetHeight();
  frame.edge = IsEdgeFrame(sample);
  frame.size = size;
  std::lock_guard<std::mutex> lock(mutex_);
  if (spool_ ? !spool_->Add(data, frame) : !WriteFrame(data, frame)) return false;
  if (frame.edge) {
    ++stats_.edgeFrames;
    gaps_.EdgeFrame(frame.timeMs);
  } else {
    gaps_.LiveFrame(frame.timeMs);
  }
  ++stats_.frames;
  if (key) ++stats_.keyframes;
  stats_.bytes += size;
  stats_.fourcc = fourcc;
  stats_.width = sample->GetWidth();
  stats_.height = sample->GetHeight();
  stats_.lastFrameMs = NowMs() - requestedMs_;
  if (stats_.firstFrameMs < 0) stats_.firstFrameMs = stats_.lastFrameMs;
  return true;
}

bool RecordingSink::OrderByCaptureTime(std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  spool_ = std::make_unique<FrameSpool>();
  return spool_->Open(error);
}

bool RecordingSink::IsEdgeFrame(orbisan::ipcapture::IMediaSample* sample) {
  static const std::string kSuffix = "::EdgeChannel";
  const std::string name = sample->GetStreamName() != nullptr ? sample->GetStreamName() : "";
  return name.size() >= kSuffix.size() && name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

bool RecordingSink::WriteFrame(const uint8_t* data, const SpooledFrame& frame) {
  const uint32_t size = frame.size;
  if (out_ != nullptr && std::fwrite(data, 1, size, out_) != size) return false;
  if (container_ != nullptr && !container_->Write(data, size, frame.fourcc, frame.width, frame.height, frame.timeMs)) {
    return false;
  }
  static const uint8_t kDelimiter[5] = {0, 0, 1, 0x09, 0x30};
  const uint32_t fourcc = frame.fourcc;
  endsWithDelimiter_ = (fourcc == orbisan::ipcapture::kFourCC_H264 || fourcc == orbisan::ipcapture::kFourCC_I264) &&
                       size >= 5 && std::memcmp(data + size - 5, kDelimiter, 5) == 0;
  ++written_;
  if (index_ != nullptr) {
    const orbisan::SYSTEMTIME t = UtcTime(frame.timeMs);
    std::fprintf(index_, "%llu,%s,%s,%u,%u,%u,%d,%s\n", static_cast<unsigned long long>(written_), IsoTime(t).c_str(),
                 FourCCText(fourcc).c_str(), frame.width, frame.height, size, IsKeyFrame(fourcc) ? 1 : 0,
                 frame.edge ? "edge" : "live");
  }
  return true;
}

void RecordingSink::OnSignalLost() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++stats_.signalLost;
  gaps_.SignalLost(UtcNowMs());
}

StreamStats RecordingSink::Stats() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

void RecordingSink::CloseOutputs() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spool_) {
    uint64_t skipped = 0;
    if (!spool_->Replay([this](const std::vector<uint8_t>& bytes,
                               const SpooledFrame& frame) { return WriteFrame(bytes.data(), frame); },
                        skipped)) {
      std::fprintf(stderr, "strandline: the recording could not be written in capture-time order\n");
    }
    stats_.frames -= skipped;
    stats_.edgeFrames -= skipped;
    spool_.reset();
  }
  if (out_ != nullptr) {
    if (outIsStdout_) {
      std::fflush(out_);
    } else {
      // Every H.264 frame ends with an access unit delimiter announcing the
      // next one; the file's last one has nothing after it and decoders
      // report an empty picture, so it is cut off.
      std::fflush(out_);
      if (endsWithDelimiter_) {
        const long size = std::ftell(out_);
        if (size >= 5 && ::ftruncate(::fileno(out_), size - 5) != 0) std::perror("strandline: truncate");
      }
      std::fclose(out_);
    }
    out_ = nullptr;
  }
  if (container_ != nullptr) {
    container_->Close();
    container_.reset();
  }
  if (index_ != nullptr) {
    std::fclose(index_);
    index_ = nullptr;
  }
}

}  // namespace strandline::host
