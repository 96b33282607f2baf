#include "rtsp/rtsp_stream_parser.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "recording_rtsp_user.h"
#include "rtp_test_util.h"

namespace orbisan {
namespace {

using test::Bytes;
using test::Interleave;
using test::RecordingRtspUser;
using test::SeenPacket;

std::vector<uint8_t> RtpWire(uint16_t sequence, size_t bytes) {
  const auto seed = static_cast<uint8_t>(sequence);
  return test::BuildRtp({.sequence = sequence, .timestamp = 9000u * sequence, .payload = Bytes(bytes, seed)});
}

SeenPacket Expected(uint16_t sequence, size_t payloadBytes) {
  return {sequence, 9000u * sequence, Bytes(payloadBytes, static_cast<uint8_t>(sequence))};
}

template <typename Range>
void Append(std::vector<uint8_t>& out, const Range& more) {
  out.insert(out.end(), more.begin(), more.end());
}

constexpr const char* kFirstAnswer = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nRange: npt=0.000-\r\n\r\n";
constexpr const char* kBodyAnswer = "RTSP/1.0 200 OK\r\ncseq: 4\r\ncontent-length:5\r\n\r\nv=0\r\n";
constexpr const char* kHugeAnswer = "RTSP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\n";

// A realistic stream: RTSP answers (one with a body, one claiming more than
// the cap), RTCP on channel 1, RTP on channel 0, stray bytes, noise that
// looks like frame headers and a zero-length frame.
std::vector<uint8_t> MixedStream(std::vector<SeenPacket>& expected) {
  std::vector<uint8_t> stream;
  Append(stream, std::string(kFirstAnswer));
  Append(stream, Interleave(1, Bytes(28, 0x80)));
  Append(stream, Interleave(0, RtpWire(1, 1400)));
  expected.push_back(Expected(1, 1400));
  Append(stream, std::string("xyz\r\n"));
  Append(stream, Interleave(0, RtpWire(2, 1)));
  expected.push_back(Expected(2, 1));
  Append(stream, std::vector<uint8_t>{'$', 0, 0, 0});            // zero length, then a lone 0 byte
  Append(stream, Interleave(1, RtpWire(99, 50)));                // RTCP channel: skipped even if it looks like RTP
  Append(stream, Interleave(0, std::vector<uint8_t>(8, 0x80)));  // too short for RTP: dropped
  // Noise whose "$" claims a long frame, and a frame header of an unknown channel.
  Append(stream, std::vector<uint8_t>{'$', 0, 0xFF, 0xFF, 'x', '$', 9, 0, 0x30});
  Append(stream, Interleave(0, RtpWire(3, 300)));
  expected.push_back(Expected(3, 300));
  Append(stream, std::string(kBodyAnswer));
  Append(stream, std::string(kHugeAnswer));
  Append(stream, Interleave(0, RtpWire(4, 10)));
  expected.push_back(Expected(4, 10));
  return stream;
}

// What a parser of channel 0 gives for a stream fed in pieces cut at the
// given offsets.
struct Parsed {
  std::vector<SeenPacket> packets;
  std::vector<std::pair<std::string, bool>> answers;  // text, complete
  bool operator==(const Parsed&) const = default;
};

Parsed Parse(const std::vector<uint8_t>& stream, std::vector<size_t> cuts) {
  RecordingRtspUser user;
  CRTSPStreamParser parser(&user, 0);
  Parsed parsed;
  parser.SetAnswerSink([&](std::string_view text, bool complete) { parsed.answers.emplace_back(text, complete); });
  cuts.push_back(stream.size());
  for (size_t at = 0; const size_t cut : cuts) {
    parser.Feed(stream.data() + at, cut - at);
    at = cut;
  }
  parsed.packets = user.Packets();
  return parsed;
}

class ThrowingUser : public RecordingRtspUser {
 public:
  void RtpPacketReceived(const CRTPPacket& packet) override {
    RecordingRtspUser::RtpPacketReceived(packet);
    throw std::runtime_error("user failure");
  }
};

// Answers come out whole between frames; one that claims more than the cap
// is refused at its header, not read. Wherever the stream is cut, the same
// comes out.
TEST(RtspStreamParserTest, EverySplitPointGivesTheSamePacketsAndAnswersAndHeaderBlocksAreCapped) {
  std::vector<SeenPacket> expected;
  const std::vector<uint8_t> stream = MixedStream(expected);
  const Parsed whole = Parse(stream, {});
  EXPECT_EQ(whole.packets, expected);
  EXPECT_EQ(whole.answers, (std::vector<std::pair<std::string, bool>>{
                               {kFirstAnswer, true}, {kBodyAnswer, true}, {kHugeAnswer, false}}));
  for (size_t split = 0; split <= stream.size(); ++split) ASSERT_EQ(Parse(stream, {split}), whole) << split;
  // Two cuts around every byte of the first RTP frame's header, and a
  // byte-by-byte feed.
  for (size_t a = 40; a < 90; ++a) {
    for (size_t b = a; b < a + 6; ++b) ASSERT_EQ(Parse(stream, {a, b}), whole) << a << "," << b;
  }
  std::vector<size_t> everyByte(stream.size());
  std::iota(everyByte.begin(), everyByte.end(), 0);
  EXPECT_EQ(Parse(stream, everyByte), whole);

  // A header block without end is dropped at the cap; what follows is found
  // again, and a user that throws does not stop the parsing.
  ThrowingUser user;
  CRTSPStreamParser parser(&user, 0);
  size_t refused = 0;
  parser.SetAnswerSink([&](std::string_view, bool complete) { refused += complete ? 0 : 1; });
  const std::string head = "RTSP/1.0 200 OK\r\n";
  parser.Feed(reinterpret_cast<const uint8_t*>(head.data()), head.size());
  const std::string filler(1000, 'x');
  for (int i = 0; i < 70; ++i) parser.Feed(reinterpret_cast<const uint8_t*>(filler.data()), filler.size());
  std::vector<uint8_t> tail = Interleave(0, RtpWire(9, 10));
  Append(tail, Interleave(0, RtpWire(10, 10)));
  EXPECT_NO_THROW(parser.Feed(tail.data(), tail.size()));
  EXPECT_EQ(refused, 1u);
  EXPECT_EQ(user.Packets(), (std::vector<SeenPacket>{Expected(9, 10), Expected(10, 10)}));
}

}  // namespace
}  // namespace orbisan
