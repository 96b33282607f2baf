// RTP parsing throughput on 1400-byte payloads, next to a plain copy of the
// same bytes: parsing should cost no more than about two such copies.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "rtsp/rtp_packet.h"
#include "rtsp/rtsp_stream_parser.h"

namespace {

constexpr size_t kPayload = 1400;

std::vector<uint8_t> MakePacket(uint16_t sequence) {
  std::vector<uint8_t> packet = {
      0x80, 96,  static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0x10, 0, 0x11, 0x22,
      0x33, 0x44};
  for (size_t i = 0; i < kPayload; ++i) packet.push_back(static_cast<uint8_t>(i * 13));
  return packet;
}

void BM_MemcpyPayload(benchmark::State& state) {
  const std::vector<uint8_t> packet = MakePacket(1);
  std::vector<uint8_t> target(kPayload);
  // Through a pointer, so the library copy runs rather than an inlined one
  // the compiler picked for this call site.
  void* (*volatile copy)(void*, const void*, size_t) = std::memcpy;
  for (auto _ : state) {
    copy(target.data(), packet.data() + 12, kPayload);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kPayload);
}
BENCHMARK(BM_MemcpyPayload);

void BM_RtpParse(benchmark::State& state) {
  const std::vector<uint8_t> packet = MakePacket(1);
  orbisan::CRTPPacket record;
  for (auto _ : state) {
    const bool ok = record.Parse(packet.data(), packet.size());
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(record.GetPayload());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kPayload);
}
BENCHMARK(BM_RtpParse);

class NullUser : public orbisan::IRTSPClientUser {
 public:
  bool SdpInfoReceived(const orbisan::SDP_SESSION_INFO&) override { return true; }
  void RtpPacketReceived(const orbisan::CRTPPacket& packet) override {
    ++packets;
    benchmark::DoNotOptimize(packet.GetPayload());
  }
  void SessionClosed() override {}
  void DescribeFailed() override {}
  int64_t packets = 0;
};

constexpr int kPacketsPerStream = 64;

// An interleaved stream (RTP on channel 0 with an RTCP frame now and then).
std::vector<uint8_t> MakeStream(std::vector<size_t>* payloadOffsets) {
  std::vector<uint8_t> stream;
  for (int i = 0; i < kPacketsPerStream; ++i) {
    const std::vector<uint8_t> packet = MakePacket(static_cast<uint16_t>(i));
    stream.insert(stream.end(),
                  {'$', 0, static_cast<uint8_t>(packet.size() >> 8), static_cast<uint8_t>(packet.size())});
    if (payloadOffsets) payloadOffsets->push_back(stream.size() + 12);
    stream.insert(stream.end(), packet.begin(), packet.end());
    if (i % 16 == 0) stream.insert(stream.end(), {'$', 1, 0, 8, 0x81, 201, 0, 1, 1, 2, 3, 4});
  }
  return stream;
}

// The baseline for the interleaved case: one copy of every payload of the
// same stream.
void BM_MemcpyStreamPayloads(benchmark::State& state) {
  std::vector<size_t> offsets;
  const std::vector<uint8_t> stream = MakeStream(&offsets);
  std::vector<uint8_t> target(kPayload);
  void* (*volatile copy)(void*, const void*, size_t) = std::memcpy;
  for (auto _ : state) {
    for (size_t offset : offsets) copy(target.data(), stream.data() + offset, kPayload);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPacketsPerStream);
  state.SetBytesProcessed(state.iterations() * kPacketsPerStream * kPayload);
}
BENCHMARK(BM_MemcpyStreamPayloads);

// The stream fed in blocks of the given size (the session reads up to
// 65536 bytes at a time; smaller blocks cut more packets).
void BM_InterleavedParse(benchmark::State& state) {
  const std::vector<uint8_t> stream = MakeStream(nullptr);
  const size_t block = static_cast<size_t>(state.range(0));
  const int packetsPerStream = kPacketsPerStream;
  NullUser user;
  orbisan::CRTSPStreamParser parser(&user, 0);
  for (auto _ : state) {
    for (size_t offset = 0; offset < stream.size(); offset += block) {
      parser.Feed(stream.data() + offset, std::min(block, stream.size() - offset));
    }
    benchmark::ClobberMemory();
  }
  if (user.packets != static_cast<int64_t>(state.iterations()) * packetsPerStream) state.SkipWithError("lost packets");
  state.SetItemsProcessed(state.iterations() * packetsPerStream);
  state.SetBytesProcessed(state.iterations() * packetsPerStream * kPayload);
}
BENCHMARK(BM_InterleavedParse)->Arg(1500)->Arg(8192)->Arg(65536);

}  // namespace
