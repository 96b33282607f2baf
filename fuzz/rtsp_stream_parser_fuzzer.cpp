// Feeds the input as an interleaved stream cut into blocks at sizes taken
// from the input itself; the packets, RTCP frames and answers found must not
// depend on the cuts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "rtsp/rtsp_stream_parser.h"

namespace {

class CountingUser : public orbisan::IRTSPClientUser {
 public:
  bool SdpInfoReceived(const orbisan::SDP_SESSION_INFO&) override { return true; }
  void RtpPacketReceived(const orbisan::CRTPPacket& packet) override {
    seen.push_back(packet.GetSequenceNumber());
    seen.push_back(packet.GetPayloadLength());
  }
  void SessionClosed() override {}
  void DescribeFailed() override {}
  std::vector<uint32_t> seen;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t channel = data[0] & 3;
  const uint8_t cutSeed = data[1];
  data += 2;
  size -= 2;

  auto watch = [](orbisan::CRTSPStreamParser& parser, CountingUser& user) {
    parser.SetRtcpSink([&user](const uint8_t*, size_t length) { user.seen.push_back(0x10000u + length); });
    parser.SetAnswerSink([&user](std::string_view text, bool complete) {
      user.seen.push_back((complete ? 0x20000u : 0x30000u) + static_cast<uint32_t>(text.size()));
    });
  };
  CountingUser whole;
  orbisan::CRTSPStreamParser wholeParser(&whole, channel);
  watch(wholeParser, whole);
  wholeParser.Feed(data, size);

  CountingUser pieces;
  orbisan::CRTSPStreamParser piecesParser(&pieces, channel);
  watch(piecesParser, pieces);
  size_t offset = 0;
  size_t step = (cutSeed % 17) + 1;
  while (offset < size) {
    const size_t take = step < size - offset ? step : size - offset;
    piecesParser.Feed(data + offset, take);
    offset += take;
    step = (step * 5 + cutSeed) % 23 + 1;
  }
  if (whole.seen != pieces.seen) std::abort();
  return 0;
}
