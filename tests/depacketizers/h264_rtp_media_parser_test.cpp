#include "rtsp/h264_rtp_media_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "bit_writer.h"
#include "depacketizer_fixture.h"
#include "rtsp/h264_sps_parser.h"

namespace orbisan::test {
namespace {

using ipcapture::kFourCC_H264;

const Bytes kStart = {0, 0, 1};
const Bytes kAud = {0, 0, 1, 0x09, 0x30};

const Bytes kSps720 = BaselineSps(80, 45);
const Bytes kSps1080 = BaselineSps(120, 68);
const Bytes kPps = {0x68, 0xCE, 0x3C, 0x80};
const Bytes kPps2 = {0x68, 0xCE, 0x38, 0x80};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x21, 0xA0};
const Bytes kSlice = {0x41, 0x9A, 0x20, 0x2E};

Bytes Fu(uint8_t flags, uint8_t type, const Bytes& data) {
  return Cat({{0x7C, static_cast<uint8_t>(flags | type)}, data});
}

Bytes Stap(std::initializer_list<Bytes> units) {
  Bytes out = {0x18};
  for (const Bytes& u : units) {
    out.push_back(static_cast<uint8_t>(u.size() >> 8));
    out.push_back(static_cast<uint8_t>(u.size()));
    out.insert(out.end(), u.begin(), u.end());
  }
  return out;
}

struct Packet {
  uint32_t ts;
  bool marker;
  Bytes payload;
  uint16_t skip = 0;  // sequence numbers left out in front
};
using Packets = std::vector<Packet>;

// The packets of one time stamp: the marker on none, on all or on the last.
enum Marking { kNone, kAll, kLast };
Packets At(uint32_t ts, Marking marking, const std::vector<Bytes>& payloads) {
  Packets out;
  for (const Bytes& p : payloads)
    out.push_back({ts, marking == kAll || (marking == kLast && &p == &payloads.back()), p});
  return out;
}

Packets operator+(Packets a, const Packets& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using H264Depacketizer = ParserTest<CH264RTPMediaParser>;

TEST_F(H264Depacketizer, KeyFrameGetsDescriptionSetsAndDeltaFramesFollow) {
  parser.SetSdpParameters(kSps720, kPps, {}, 0, 0);
  EXPECT_EQ(1280u, parser.GetWidth());
  Send(false, {0x09, 0x10});        // access unit delimiter: dropped
  Send(false, {0x06, 0x05, 0x01});  // SEI: dropped
  timestamp = 45000;
  Send(true, kIdr);
  Send(true, kSlice);

  ASSERT_EQ(2u, client.frames.size());
  EXPECT_EQ("H264 1280x720/4 @45000 Strandline::LiveStream", Summary(client.frames[0]));
  EXPECT_EQ(Str(Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud})), client.frames[0].bytes);
  EXPECT_EQ("I264 1280x720/4 @48000 Strandline::LiveStream", Summary(client.frames[1]));
  EXPECT_EQ(Str(Cat({kStart, kSlice, kAud})), client.frames[1].bytes);
  // A tiny picture (128 x 96) takes the configured size.
  client.defaultResolution = {704, 576};
  Send(false, BaselineSps(8, 6));
  Send(false, kPps);
  Send(true, kIdr);
  ASSERT_EQ(3u, client.frames.size());
  EXPECT_EQ("H264 704x576/4 @51000 Strandline::LiveStream", Summary(client.frames[2]));
}

// What cameras do with marker bits, aggregates and fragments, sent as one
// burst and then a pause: exactly one frame per picture, stamped with the
// picture's time.
TEST_F(H264Depacketizer, OneFramePerPictureWhateverTheFraming) {
  const Bytes idrB = {0x65, 0x07, 0x11};  // later slices: first_mb_in_slice > 0
  const Bytes sliceB = {0x41, 0x07, 0x22};
  const Bytes key = Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud});
  const Bytes keyAB = Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kStart, idrB, kAud});
  const Bytes delta = Cat({kStart, kSlice, kAud});
  const Bytes deltaAB = Cat({kStart, kSlice, kStart, sliceB, kAud});
  const Bytes fuDelta = Cat({kStart, {0x61, 0x9A, 0x20, 0x2E}, kAud});  // rebuilt with the FU's NRI
  const Bytes annexB = Cat({{0, 0, 0, 1}, kSps720, kStart, kPps, {0, 0, 0, 1}, kIdr});
  const Bytes key1080 = Cat({kStart, kSps1080, kStart, kPps2, kStart, kIdr, kAud});
  // Unsupported packetization types, then a single unit of one byte, each in a picture of its own.
  Packets unsupported;
  uint32_t ts = 2;
  for (uint8_t type : {0, 25, 26, 27, 29, 30, 31})
    unsupported = unsupported + At(ts++, kLast, {kSlice, {type, 0x11, 0x22, 0x33}, kSlice});
  unsupported = unsupported + At(ts++, kLast, {{0x41}, kSlice});
  enum Sets { kUndescribed, k720, k1080 };
  struct Case {
    const char* name;
    Packets packets;
    std::vector<std::pair<uint32_t, Bytes>> frames;
    Sets described = kUndescribed;  // the description brought 720p or 1080p sets
    uint16_t firstSequence = 100;
  };
  const Case cases[] = {
      {"no marker bits, equal time stamps on neighbours",
       At(1, kNone, {kSps720, kPps, kIdr}) + At(2, kNone, {kSlice, kSlice}),
       {{1, key}, {2, delta}, {2, delta}}},
      {"a marker on every slice",
       At(1, kNone, {kSps720, kPps}) + At(1, kAll, {kIdr, idrB}) + At(2, kAll, {kSlice, sliceB}) +
           At(3, kAll, {kSlice, sliceB}) + At(4, kAll, {kSlice, sliceB}) + At(5, kAll, {kSlice}),
       {{1, keyAB}, {2, deltaAB}, {3, deltaAB}, {4, deltaAB}, {5, delta}}},
      {"marked sets in an aggregate with empty units, on their own time stamp",
       {{1, true, Stap({{}, kSps720, {}, kPps, {}})}, {2, true, kIdr}},
       {{2, key}}},
      {"start codes inside single units, aggregates and fragments",
       At(1, kAll, {annexB}) + At(2, kAll, {Stap({Cat({kSlice, kStart, sliceB})})}) +
           At(3, kLast, {Fu(0x80, 1, Cat({kStart, kSlice})), Fu(0x40, 1, Cat({kStart, sliceB}))}),
       {{1, key}, {2, deltaAB}, {3, deltaAB}}},
      {"fragments: empty ones, the reserved bit, start and end in one, an end bit missing",
       At(1, kLast,
          {kSps720, kPps, Fu(0x80, 5, {0x88}), Fu(0x00, 5, {}), Fu(0x20, 5, {0x84, 0x21}), Fu(0x40, 5, {0xA0})}) +
           At(2, kNone, {Fu(0xC0, 1, {0x9A, 0x20, 0x2E})}) +
           At(3, kLast, {Fu(0xA0, 1, {0x9A, 0x20}), Fu(0x80, 1, {0x07, 0x22})}) + At(4, kAll, {Fu(0x00, 1, {0x99})}) +
           At(5, kAll, {kSlice}),
       {{1, key}, {2, fuDelta}, {3, Cat({kStart, {0x61, 0x9A, 0x20}, kStart, {0x61, 0x07, 0x22}, kAud})}, {5, delta}}},
      {"sets in fragments, one without its end bit, against a description of another size",
       At(1, kLast,
          {Fu(0x80, 7, Bytes(kSps720.begin() + 1, kSps720.begin() + 3)),
           Fu(0x40, 7, Bytes(kSps720.begin() + 3, kSps720.end())), Fu(0x80, 8, Bytes(kPps.begin() + 1, kPps.end())),
           kIdr}),
       {{1, key}},
       k1080},
      {"numbering jumps between pictures",
       {{1, true, Stap({kSps720, kPps, kIdr})},
        {2, true, kSlice},
        {3, true, kSlice, 5000},
        {4, true, kSlice, 2},
        {6, true, kSlice, 1}},
       {{1, key}, {2, delta}, {3, delta}, {4, delta}}},
      {"in-band sets replace the described ones and never stand on their own",
       At(1, kLast, {kSps1080, kPps2, kIdr}) + At(2, kAll, {kSlice}) + At(3, kLast, {kSps720, kPps, kSlice}),
       {{1, key1080}, {2, delta}, {3, delta}},
       k720},
      {"an aggregate whose unit runs past its end costs the picture in progress",
       At(1, kAll, {Stap({kSps720, kPps, kIdr})}) +
           At(2, kLast, {{0x01, 0x02}, {0x18, 0x00, 0x09, 0x41, 0x9A}, kSlice}),
       {{1, key}}},
      {"a fragmented SEI in front of the IDR",
       At(1, kLast,
          {kSps720, kPps, Fu(0x80, 6, {0x05, 0x10}), Fu(0x40, 6, {0x80}), Fu(0x80, 5, {0x88, 0x84}),
           Fu(0x40, 5, {0x21, 0xA0})}),
       {{1, key}}},
      {"joined between a key frame's own sets and its slices: the description's sets of another size are "
       "not trusted for it",
       {{1, true, kIdr}, {2, true, kSlice}, {3, false, kSps720}, {3, false, kPps}, {3, true, kIdr}, {4, true, kSlice}},
       {{3, key}, {4, delta}},
       k1080},
      {"a camera without sets of its own plays with the description's from its second key frame",
       {{1, true, kIdr}, {2, true, kSlice}, {3, true, kIdr}, {4, true, kSlice}},
       {{3, key1080}, {4, delta}},
       k1080},
      {"unsupported packetization costs the picture in progress, silently",
       At(1, kLast, {kSps720, kPps, kIdr}) + unsupported + At(ts, kAll, {kIdr}),
       {{1, key}, {ts, key}}},
      {"sequence numbers wrap without a break",
       {{1, true, Stap({kSps720, kPps, kIdr})}, {2, true, kSlice}, {3, true, kSlice}},
       {{1, key}, {2, delta}, {3, delta}},
       kUndescribed,
       65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CH264RTPMediaParser h264(&driver);
    h264.SetClient(&client);
    if (c.described == k720) h264.SetSdpParameters(kSps720, kPps, {}, 0, 0);
    if (c.described == k1080) h264.SetSdpParameters(kSps1080, kPps2, {}, 0, 0);
    client.frames.clear();
    uint16_t seq = c.firstSequence;
    for (const Packet& p : c.packets) {
      seq = static_cast<uint16_t>(seq + p.skip);
      h264.ProcessPacket(MakePacket(seq++, p.ts * 3000, p.marker, p.payload));
    }
    h264.FinishHeld(1000);
    EXPECT_EQ(client.frames.size(), c.frames.size());
    if (!client.frames.empty()) {
      EXPECT_EQ(client.frames[0].fourcc, kFourCC_H264);
      EXPECT_EQ(client.frames[0].width, c.frames[0].second == key1080 ? 1920u : 1280u) << "the key frame's sets";
    }
    for (size_t i = 0; i < std::min(c.frames.size(), client.frames.size()); ++i) {
      EXPECT_EQ(client.frames[i].rtpTimestamp, c.frames[i].first * 3000) << i;
      EXPECT_EQ(client.frames[i].bytes, Str(c.frames[i].second)) << i;
    }
  }
  EXPECT_TRUE(driver.Lines().empty());
}

// A stream without markers that pauses inside a fragmented unit (a stalled
// sender, a retransmission on the connection): the picture is not cut there.
TEST_F(H264Depacketizer, UnmarkedPictureWaitsForItsOpenFragment) {
  parser.ProcessPacket(MakePacket(1, 3000, false, kSps720));
  parser.ProcessPacket(MakePacket(2, 3000, false, kPps));
  parser.ProcessPacket(MakePacket(3, 3000, false, Fu(0x80, 5, {0x88})));
  EXPECT_NE(parser.FinishHeld(10 * CH264RTPMediaParser::kUnmarkedHoldMs), 0u);
  EXPECT_TRUE(client.frames.empty());
  parser.ProcessPacket(MakePacket(4, 3000, false, Fu(0x40, 5, {0x84, 0x21, 0xA0})));
  parser.FinishHeld(CH264RTPMediaParser::kUnmarkedHoldMs);
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].bytes, Str(Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud})));
}

struct SpsFields {
  uint32_t profile = 66;
  uint32_t level = 30;
  uint32_t spsId = 0;
  uint32_t chromaFormat = 1;
  bool scalingMatrix = false;
  uint32_t pocType = 0;
  uint32_t widthMbsMinus1 = 10;
  uint32_t heightUnitsMinus1 = 8;
  bool frameMbsOnly = true;
  bool crop = false;
  uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
};

std::vector<uint8_t> MakeSps(const SpsFields& f) {
  BitWriter w;
  w.Bits(f.profile, 8).Bits(0, 8).Bits(f.level, 8).UE(f.spsId);
  if (f.profile == 100 || f.profile == 244 || f.profile == 44) {
    w.UE(f.chromaFormat);
    if (f.chromaFormat == 3) w.Bit(0);  // no separate colour planes
    w.UE(0).UE(0).Bit(0).Bit(f.scalingMatrix);
    if (f.scalingMatrix) {
      const int lists = f.chromaFormat != 3 ? 8 : 12;
      for (int i = 0; i < lists; ++i) {
        const bool present = i % 2 == 0;
        w.Bit(present);
        if (!present) continue;
        const int size = i < 6 ? 16 : 64;
        if (i == 2) {
          w.SE(-8);  // next scale 0 at once: the rest of the list is implied
          continue;
        }
        for (int k = 0; k < size; ++k) w.SE(k % 3 == 0 ? 5 : -2);
      }
    }
  }
  w.UE(0);  // log2_max_frame_num_minus4
  w.UE(f.pocType);
  if (f.pocType == 0) w.UE(2);
  if (f.pocType == 1) {
    w.Bit(0).SE(-3).SE(7).UE(3).SE(1).SE(-100).SE(12345);
  }
  w.UE(2).Bit(0).UE(f.widthMbsMinus1).UE(f.heightUnitsMinus1).Bit(f.frameMbsOnly);
  if (!f.frameMbsOnly) w.Bit(1);
  w.Bit(1).Bit(f.crop);
  if (f.crop) w.UE(f.cropLeft).UE(f.cropRight).UE(f.cropTop).UE(f.cropBottom);
  w.Bit(0);  // no VUI
  return EscapeNal(0x67, w.Finish());
}

// "WxH" of a set the parser reads, "refused" for one it does not.
std::string ParseSps(const std::vector<uint8_t>& nal) {
  uint32_t width = 0, height = 0;
  if (!CH264SpsParser().Parse(nal.data(), nal.size(), width, height)) return "refused";
  return std::to_string(width) + "x" + std::to_string(height);
}

TEST(H264SpsParser, ReadsSizeAcrossProfilesAndRejectsDamagedSets) {
  // 1080p as encoders send it: 68 rows of macroblocks cropped by 8 lines.
  const SpsFields high = {.profile = 100,
                          .level = 40,
                          .scalingMatrix = true,
                          .widthMbsMinus1 = 119,
                          .heightUnitsMinus1 = 67,
                          .crop = true,
                          .cropBottom = 4};
  SpsFields interlaced = high;  // 1080i: 34 map units of 32 lines, cropped by 2 field lines
  interlaced.heightUnitsMinus1 = 33;
  interlaced.frameMbsOnly = false;
  interlaced.cropBottom = 2;
  const std::pair<SpsFields, std::string> cases[] = {
      {{}, "176x144"},
      {high, "1920x1080"},
      {interlaced, "1920x1080"},
      // picture order count type 1 with its offset list
      {{.pocType = 1, .widthMbsMinus1 = 79, .heightUnitsMinus1 = 44}, "1280x720"},
      // 4:4:4 has twelve scaling lists and crops in luma samples
      {{.profile = 244,
        .chromaFormat = 3,
        .scalingMatrix = true,
        .widthMbsMinus1 = 39,
        .heightUnitsMinus1 = 29,
        .crop = true,
        .cropRight = 3},
       "637x480"},
      // eight leading zero bits right after a zero level byte: an escape
      {{.level = 0, .spsId = 255}, "176x144"},
  };
  for (const auto& [fields, size] : cases) EXPECT_EQ(ParseSps(MakeSps(fields)), size);
  ASSERT_EQ(0x03, MakeSps({.level = 0, .spsId = 255})[4]) << "the test set must carry an escape";
  // Damaged sets.
  std::vector<uint8_t> nal = MakeSps(SpsFields{});
  EXPECT_EQ(ParseSps(std::vector<uint8_t>(nal.begin(), nal.begin() + 6)), "refused") << "cut short";
  nal[0] = 0x68;
  EXPECT_EQ(ParseSps(nal), "refused") << "not an SPS";
  // 88 columns from each side of 176
  EXPECT_EQ(ParseSps(MakeSps({.crop = true, .cropLeft = 44, .cropRight = 44})), "refused");
  EXPECT_EQ(ParseSps({0x67, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "refused") << "Exp-Golomb code longer than 32 bits";
}

}  // namespace
}  // namespace orbisan::test
