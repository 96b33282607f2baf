// Throughput of the depacketizers on 1080p-sized streams, next to a memcpy
// of the same payload bytes in the same packet-sized pieces; BM_H264FromDatagrams
// starts from the datagrams (parse in place + depacketize + into the sample).
//
// Counters: parser_MBps is the payload rate (thread CPU time), memcpy_MBps
// the copy rate of the same bytes measured in the same process, vs_memcpy
// their ratio.

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "../tests/depacketizers/collecting_client.h"
#include "../tests/support/test_driver.h"
#include "rtsp/h264_rtp_media_parser.h"
#include "rtsp/jpeg_rtp_media_parser.h"
#include "rtsp/mpeg4_rtp_media_parser.h"

namespace {

using namespace orbisan;
using Bytes = std::vector<uint8_t>;

// A host allocator that hands out one sample again and again, as a pooling
// host does, so that the figures are the depacketizer's and not malloc's.
class PooledSample : public ipcapture::IMediaSample {
 public:
  uint32_t GetSize() override { return size_; }
  uint8_t* GetBuffer() override { return buffer_.data(); }
  uint32_t GetDataSize() override { return dataSize_; }
  void SetDataSize(uint32_t size) override { dataSize_ = size; }
  void SetTimeNow() override {}
  void SetTime(const SYSTEMTIME*) override {}
  void GetTime(SYSTEMTIME*) override {}
  const char* GetStreamName() override { return ""; }
  uint32_t GetFourCC() override { return fourcc_; }
  void SetFourCC(uint32_t fourcc) override { fourcc_ = fourcc; }
  uint32_t GetHeight() override { return 0; }
  void SetHeight(uint32_t) override {}
  uint32_t GetWidth() override { return 0; }
  void SetWidth(uint32_t) override {}
  uint32_t GetResolutionClass() override { return 0; }
  void SetResolutionClass(uint32_t) override {}
  void Prepare(uint32_t fourcc, uint32_t size) {
    if (buffer_.size() < size) buffer_.resize(size);
    size_ = size;
    fourcc_ = fourcc;
    dataSize_ = 0;
  }

 private:
  std::vector<uint8_t> buffer_;
  uint32_t size_ = 0;
  uint32_t dataSize_ = 0;
  uint32_t fourcc_ = 0;
};

class PooledAllocator : public ipcapture::IMediaSampleAllocator {
 public:
  uint32_t GetVersion() override { return 1; }
  ipcapture::IMediaSample* CreateSample(uint32_t fourcc, uint32_t size, const char*) override {
    sample_.Prepare(fourcc, size);
    return &sample_;
  }
  ipcapture::IAudioSample* CreateAudioSample(uint32_t, uint32_t, const char*) override { return nullptr; }
  void ReleaseAudioSample(ipcapture::IAudioSample*) override {}
  uint32_t GetFreeCount() override { return 1; }
  void ReleaseSample(ipcapture::IMediaSample*) override {}

 private:
  PooledSample sample_;
};

constexpr size_t kPacketPayload = 1400;

struct Stream {
  std::vector<CRTPPacket> packets;
  std::vector<Bytes> datagrams;  // the same packets as they come off the socket
  size_t payloadBytes = 0;
  size_t frames = 0;
};

class StreamBuilder {
 public:
  void Add(const Bytes& payload, bool marker) {
    Bytes raw = {0x80,
                 static_cast<uint8_t>((marker ? 0x80 : 0) | 96),
                 static_cast<uint8_t>(sequence_ >> 8),
                 static_cast<uint8_t>(sequence_),
                 static_cast<uint8_t>(timestamp_ >> 24),
                 static_cast<uint8_t>(timestamp_ >> 16),
                 static_cast<uint8_t>(timestamp_ >> 8),
                 static_cast<uint8_t>(timestamp_),
                 1,
                 2,
                 3,
                 4};
    raw.insert(raw.end(), payload.begin(), payload.end());
    CRTPPacket packet;
    packet.Parse(raw.data(), raw.size());
    stream.packets.push_back(packet);
    stream.datagrams.push_back(raw);
    stream.payloadBytes += payload.size();
    ++sequence_;
    if (marker) {
      timestamp_ += 3000;
      ++stream.frames;
    }
  }
  Bytes Random(size_t n) {
    Bytes b(n);
    for (uint8_t& x : b) x = static_cast<uint8_t>(random_());
    return b;
  }
  Stream stream;

 private:
  uint16_t sequence_ = 0;
  uint32_t timestamp_ = 0;
  std::mt19937 random_{1080};
};

// Frame sizes of a 1080p stream of about 8 Mbit/s at 30 frames per second:
// a 200 KB key frame and 29 delta frames of 27 KB per group of pictures.
constexpr size_t kKeyFrameBytes = 200 * 1024;
constexpr size_t kDeltaFrameBytes = 27 * 1024;
constexpr int kGroupLength = 30;

// SPS for 1920 x 1080 (68 macroblock rows, 8 lines cropped).
const Bytes kSps1080 = {0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0x84, 0x00,
                        0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xF0, 0x3C, 0x60, 0xC6, 0x58};
const Bytes kPps = {0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};

Stream MakeH264Stream() {
  StreamBuilder b;
  for (int f = 0; f < kGroupLength; ++f) {
    const bool key = f == 0;
    if (key) {
      b.Add(kSps1080, false);
      b.Add(kPps, false);
    }
    const uint8_t type = key ? 5 : 1;
    const Bytes nal = b.Random(key ? kKeyFrameBytes : kDeltaFrameBytes);
    for (size_t pos = 1; pos < nal.size(); pos += kPacketPayload - 2) {
      const size_t n = std::min(kPacketPayload - 2, nal.size() - pos);
      const bool last = pos + n >= nal.size();
      Bytes fu = {0x7C, static_cast<uint8_t>((pos == 1 ? 0x80 : 0) | (last ? 0x40 : 0) | type)};
      fu.insert(fu.end(), nal.begin() + static_cast<std::ptrdiff_t>(pos),
                nal.begin() + static_cast<std::ptrdiff_t>(pos + n));
      b.Add(fu, last);
    }
  }
  return b.stream;
}

Stream MakeMpeg4Stream() {
  StreamBuilder b;
  for (int f = 0; f < kGroupLength; ++f) {
    Bytes vop = b.Random(f == 0 ? kKeyFrameBytes : kDeltaFrameBytes);
    vop[0] = 0;
    vop[1] = 0;
    vop[2] = 1;
    vop[3] = 0xB6;
    vop[4] = f == 0 ? 0x10 : 0x50;
    for (size_t pos = 0; pos < vop.size(); pos += kPacketPayload) {
      const size_t n = std::min(kPacketPayload, vop.size() - pos);
      b.Add(Bytes(vop.begin() + static_cast<std::ptrdiff_t>(pos), vop.begin() + static_cast<std::ptrdiff_t>(pos + n)),
            pos + n >= vop.size());
    }
  }
  return b.stream;
}

const Bytes kMpeg4Config = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00,
                            0x00, 0x00, 0x01, 0x20, 0x00, 0xC4, 0x8D, 0x88, 0x00, 0xF5, 0x3C, 0x04, 0x87, 0x14, 0x43};

Stream MakeJpegStream() {
  StreamBuilder b;
  for (int f = 0; f < kGroupLength; ++f) {
    const Bytes scan = b.Random(200 * 1024);
    uint32_t offset = 0;
    while (offset < scan.size()) {
      Bytes p = {0,
                 static_cast<uint8_t>(offset >> 16),
                 static_cast<uint8_t>(offset >> 8),
                 static_cast<uint8_t>(offset),
                 1,
                 255,
                 240,
                 135};
      if (offset == 0) {
        p.insert(p.end(), {0, 0, 0, 128});
        for (int i = 0; i < 128; ++i) p.push_back(static_cast<uint8_t>(4 + i % 40));
      }
      const size_t n = std::min(kPacketPayload - p.size(), scan.size() - offset);
      p.insert(p.end(), scan.begin() + offset, scan.begin() + offset + static_cast<std::ptrdiff_t>(n));
      offset += static_cast<uint32_t>(n);
      b.Add(p, offset >= scan.size());
    }
  }
  return b.stream;
}

// Copies every payload into a frame buffer as the depacketizers do, but
// with nothing else: the reference speed for the same bytes.
size_t CopyPayloads(const Stream& s, Bytes& frame) {
  size_t used = 0, total = 0;
  for (const CRTPPacket& p : s.packets) {
    std::memcpy(frame.data() + used, p.GetPayload(), p.GetPayloadLength());
    used += p.GetPayloadLength();
    if (p.GetMarker()) {
      total += used;
      used = 0;
    }
  }
  return total + used;
}

// CPU time of this thread: the machine is shared, wall time is not ours.
double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double MemcpyMBps(const Stream& s) {
  Bytes frame(4 * 1024 * 1024);
  double best = 0;
  for (int round = 0; round < 20; ++round) {
    const double start = ThreadCpuSeconds();
    size_t copied = 0;
    for (int i = 0; i < 5; ++i) copied += CopyPayloads(s, frame);
    benchmark::DoNotOptimize(frame.data());
    const double seconds = ThreadCpuSeconds() - start;
    best = std::max(best, copied / seconds / 1e6);
  }
  return best;
}

// fromDatagrams: each packet is parsed in place from its datagram first, as
// the receive path does, so the figure covers parse + depacketize + delivery
// into the host sample.
template <class Parser>
void RunParser(benchmark::State& state, const Stream& stream, const Bytes& config, bool fromDatagrams = false) {
  test::TestDriver driver;
  PooledAllocator allocator;
  test::CollectingClient client;
  client.allocator = &allocator;
  client.keepBytes = false;
  client.defaultResolution = {1920, 1080};
  Parser parser(&driver);
  parser.SetClient(&client);
  parser.SetSdpParameters(kSps1080, kPps, config, 1920, 1080);
  const double start = ThreadCpuSeconds();
  CRTPPacket packet;
  for (auto _ : state) {
    if (fromDatagrams) {
      for (const Bytes& d : stream.datagrams) {
        if (packet.ParseInPlace(d.data(), d.size())) parser.ProcessPacket(packet);
      }
    } else {
      for (const CRTPPacket& p : stream.packets) parser.ProcessPacket(p);
    }
  }
  const double seconds = ThreadCpuSeconds() - start;
  // The numbering starts over with every pass, so each pass begins after a
  // reset at its key frame: every frame is still delivered.
  if (client.offered != stream.frames * state.iterations()) state.SkipWithError("frames were lost");
  state.SetBytesProcessed(static_cast<int64_t>(stream.payloadBytes * state.iterations()));
  const double memcpy = MemcpyMBps(stream);
  state.counters["memcpy_MBps"] = memcpy;
  state.counters["parser_MBps"] = static_cast<double>(stream.payloadBytes * state.iterations()) / 1e6 / seconds;
  state.counters["vs_memcpy"] = state.counters["parser_MBps"] / memcpy;
}

void BM_H264(benchmark::State& state) {
  static const Stream stream = MakeH264Stream();
  RunParser<CH264RTPMediaParser>(state, stream, {});
}
void BM_H264FromDatagrams(benchmark::State& state) {
  static const Stream stream = MakeH264Stream();
  RunParser<CH264RTPMediaParser>(state, stream, {}, true);
}
void BM_Mpeg4(benchmark::State& state) {
  static const Stream stream = MakeMpeg4Stream();
  RunParser<CMpeg4RTPMediaParser>(state, stream, kMpeg4Config);
}
void BM_Jpeg(benchmark::State& state) {
  static const Stream stream = MakeJpegStream();
  RunParser<CJpegRTPMediaParser>(state, stream, {});
}

void BM_MemcpyH264Payloads(benchmark::State& state) {
  static const Stream stream = MakeH264Stream();
  Bytes frame(4 * 1024 * 1024);
  for (auto _ : state) benchmark::DoNotOptimize(CopyPayloads(stream, frame));
  state.SetBytesProcessed(static_cast<int64_t>(stream.payloadBytes * state.iterations()));
}
void BM_MemcpyJpegPayloads(benchmark::State& state) {
  static const Stream stream = MakeJpegStream();
  Bytes frame(4 * 1024 * 1024);
  for (auto _ : state) benchmark::DoNotOptimize(CopyPayloads(stream, frame));
  state.SetBytesProcessed(static_cast<int64_t>(stream.payloadBytes * state.iterations()));
}

BENCHMARK(BM_MemcpyH264Payloads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_H264)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_H264FromDatagrams)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mpeg4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyJpegPayloads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg)->Unit(benchmark::kMillisecond);

}  // namespace
