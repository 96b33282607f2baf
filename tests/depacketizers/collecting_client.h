#pragma once

// A depacketizer client for tests, fuzzing and benchmarks: keeps a copy of
// every frame it accepts (or only counts them) and remembers the RTP
// timestamp each frame was stamped with.

#include <string>
#include <utility>
#include <vector>

#include "rtsp/media_parser_client.h"

namespace orbisan::test {

struct ParsedFrame {
  uint32_t fourcc = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t resolutionClass = 0;
  uint32_t rtpTimestamp = 0;
  std::string streamName;
  std::string bytes;
};

// "FOURCC WxH/class @timestamp stream" of a frame, to compare in one line.
inline std::string Summary(const ParsedFrame& f) {
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>(f.fourcc >> shift);
  return out + " " + std::to_string(f.width) + "x" + std::to_string(f.height) + "/" +
         std::to_string(f.resolutionClass) + " @" + std::to_string(f.rtpTimestamp) + " " + f.streamName;
}

class CollectingClient : public IMediaParserClient {
 public:
  bool FrameReady(ipcapture::IMediaSample* frame) override {
    ++offered;
    if (keepBytes) {
      ParsedFrame f;
      f.fourcc = frame->GetFourCC();
      f.width = frame->GetWidth();
      f.height = frame->GetHeight();
      f.resolutionClass = frame->GetResolutionClass();
      f.rtpTimestamp = lastTimestamp;
      f.streamName = frame->GetStreamName();
      f.bytes.assign(reinterpret_cast<const char*>(frame->GetBuffer()), frame->GetDataSize());
      frames.push_back(std::move(f));
    }
    return accept;
  }
  std::pair<uint32_t, uint32_t> GetDefaultResolution() override { return defaultResolution; }
  std::string GetStreamName() override { return "Strandline::LiveStream"; }
  void ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME& time) override {
    lastTimestamp = rtpTimestamp;
    time =
        SYSTEMTIME{.wYear = 2026, .wMonth = 1, .wDay = 1, .wMilliseconds = static_cast<uint16_t>(rtpTimestamp % 1000)};
  }
  ipcapture::IMediaSampleAllocator* GetSampleAllocator() override { return allocator; }

  std::vector<ParsedFrame> frames;
  std::pair<uint32_t, uint32_t> defaultResolution{1280, 720};  // the size the camera was set to
  ipcapture::IMediaSampleAllocator* allocator = nullptr;
  bool accept = true;
  bool keepBytes = true;
  size_t offered = 0;
  uint32_t lastTimestamp = 0;
};

}  // namespace orbisan::test
