#include "rtsp/jpeg_rtp_media_parser.h"

#include <gtest/gtest.h>

#include <map>

#include "depacketizer_fixture.h"
#include "rtsp/jpeg_header.h"

namespace orbisan::test {
namespace {

// Segments of a JPEG picture up to SOS: marker -> bodies (without length),
// and the bytes after the SOS header.
struct JpegLayout {
  bool valid = false;
  std::multimap<uint8_t, std::string> segments;
  std::string scan;
};

JpegLayout Walk(const std::string& jpeg) {
  JpegLayout out;
  if (jpeg.size() < 4 || static_cast<uint8_t>(jpeg[0]) != 0xFF || static_cast<uint8_t>(jpeg[1]) != 0xD8) return out;
  size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (static_cast<uint8_t>(jpeg[pos]) != 0xFF) return out;
    const uint8_t marker = static_cast<uint8_t>(jpeg[pos + 1]);
    const size_t length = (size_t{static_cast<uint8_t>(jpeg[pos + 2])} << 8) | static_cast<uint8_t>(jpeg[pos + 3]);
    if (length < 2 || pos + 2 + length > jpeg.size()) return out;
    out.segments.emplace(marker, jpeg.substr(pos + 4, length - 2));
    pos += 2 + length;
    if (marker == 0xDA) {
      out.scan = jpeg.substr(pos);
      out.valid = true;
      return out;
    }
  }
  return out;
}

const Bytes kScanA = {0x12, 0x34, 0xFF, 0x00, 0x56};
const Bytes kScanB = {0x78, 0x9A, 0xBC};
const Bytes kEoi = {0xFF, 0xD9};

using JpegDepacketizer = ParserTest<CJpegRTPMediaParser>;

TEST_F(JpegDepacketizer, FragmentsFromTheirStartMakeOneStandAlonePictureWithRestartMarkersAndAnEndOfImage) {
  Send(true, Cat({JpegMainHeader(5, 1, 50, 22, 18), kScanB}));  // joined mid-picture
  EXPECT_TRUE(client.frames.empty());
  Send(false, {0x00, 0x00});  // too short to look at
  Send(true, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA}));
  EXPECT_EQ(1u, client.frames.size());

  // A picture whose last packet lost only its marker does not run into the next.
  Send(false, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanB}));
  Send(true, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA}));
  ASSERT_EQ(2u, client.frames.size());
  EXPECT_EQ(Str(Cat({kScanA, kEoi})), Walk(client.frames[1].bytes).scan);

  // The end of image is added only when missing.
  Send(true, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA, kEoi}));
  Send(true, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA, kEoi, {0x00}}));
  Send(true, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA, {0xFF}}));
  ASSERT_EQ(5u, client.frames.size());
  EXPECT_EQ(Str(Cat({kScanA, kEoi})), Walk(client.frames[2].bytes).scan);
  EXPECT_EQ(Str(Cat({kScanA, kEoi, {0x00}})), Walk(client.frames[3].bytes).scan);
  EXPECT_EQ(Str(Cat({kScanA, {0xFF}, kEoi})), Walk(client.frames[4].bytes).scan);

  // The table values are judged by decoding captured streams; here the
  // picture's frame, its segments and the tables each component uses.
  Send(false, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA}));
  Send(true, Cat({JpegMainHeader(5, 1, 50, 22, 18), kScanB}));
  ASSERT_EQ(6u, client.frames.size());
  EXPECT_EQ("JPEG 176x144/1 @27000 Strandline::LiveStream", Summary(client.frames[5]));
  const JpegLayout jpeg = Walk(client.frames[5].bytes);
  ASSERT_TRUE(jpeg.valid);
  EXPECT_EQ(Str(Cat({kScanA, kScanB, kEoi})), jpeg.scan);
  ASSERT_EQ(1u, jpeg.segments.count(0xE0));
  EXPECT_EQ(std::string("JFIF\0", 5), jpeg.segments.find(0xE0)->second.substr(0, 5));
  EXPECT_EQ(0u, jpeg.segments.count(0xDD));
  // No tables in band below Q 128: the ones that Q stands for.
  uint8_t q50[128];
  CJpegHeader::MakeTables(50, q50);
  const auto dqt = jpeg.segments.equal_range(0xDB);
  ASSERT_EQ(2, std::distance(dqt.first, dqt.second));
  EXPECT_EQ(Str(Cat({{0}, Bytes(q50, q50 + 64)})), dqt.first->second);
  EXPECT_EQ(Str(Cat({{1}, Bytes(q50 + 64, q50 + 128)})), std::next(dqt.first)->second);
  EXPECT_EQ(4u, jpeg.segments.count(0xC4));
  // 8 bits, 144 x 176, three components: type 1 is 4:2:0, chrominance uses the second table.
  EXPECT_EQ(Str({8, 0, 144, 0, 176, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}), jpeg.segments.find(0xC0)->second);

  // Types 64 to 127 carry restart markers: a DRI segment.
  const Bytes restart = {0x00, 0x0F, 0xFF, 0xFF};
  Send(false, Cat({JpegMainHeader(0, 65, 60, 22, 18), restart, kScanA}));
  Send(true, Cat({JpegMainHeader(5, 65, 60, 22, 18), restart, kScanB}));
  ASSERT_EQ(7u, client.frames.size());
  const JpegLayout dri = Walk(client.frames[6].bytes);
  ASSERT_TRUE(dri.valid);
  ASSERT_EQ(1u, dri.segments.count(0xDD));
  EXPECT_EQ(Str({0, 15}), dri.segments.find(0xDD)->second) << "restart interval";
  EXPECT_EQ(Str(Cat({kScanA, kScanB, kEoi})), dri.scan);
  EXPECT_EQ(0x22, dri.segments.find(0xC0)->second[7]);
}

TEST_F(JpegDepacketizer, InBandTablesBecomeOneOrTwoQuantizationSegments) {
  Bytes tables(128);
  for (size_t i = 0; i < tables.size(); ++i) tables[i] = static_cast<uint8_t>(i + 1);
  Send(true, Cat({JpegMainHeader(0, 0, 255, 40, 30), {0, 0, 0, 128}, tables, kScanA}));
  ASSERT_EQ(1u, client.frames.size());
  JpegLayout jpeg = Walk(client.frames[0].bytes);
  ASSERT_TRUE(jpeg.valid);
  auto dqt = jpeg.segments.equal_range(0xDB);
  ASSERT_EQ(2, std::distance(dqt.first, dqt.second));
  EXPECT_EQ(Str(Cat({{0}, Bytes(tables.begin(), tables.begin() + 64)})), dqt.first->second);
  EXPECT_EQ(Str(Cat({{1}, Bytes(tables.begin() + 64, tables.end())})), std::next(dqt.first)->second);
  EXPECT_EQ(0x21, jpeg.segments.find(0xC0)->second[7]) << "type 0 is 4:2:2";
  EXPECT_EQ(Str(Cat({kScanA, kEoi})), jpeg.scan);

  // One table: every component must use it.
  Send(true,
       Cat({JpegMainHeader(0, 1, 255, 40, 30), {0, 0, 0, 64}, Bytes(tables.begin(), tables.begin() + 64), kScanA}));
  ASSERT_EQ(2u, client.frames.size());
  jpeg = Walk(client.frames[1].bytes);
  ASSERT_TRUE(jpeg.valid);
  EXPECT_EQ(1u, jpeg.segments.count(0xDB));
  EXPECT_EQ(Str({8, 0, 240, 1, 64, 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0}), jpeg.segments.find(0xC0)->second);

  // Below Q 255 a picture may refer to the tables of an earlier one.
  Send(true, Cat({JpegMainHeader(0, 1, 200, 40, 30), {0, 0, 0, 128}, tables, kScanA}));
  Send(true, Cat({JpegMainHeader(0, 1, 200, 40, 30), {0, 0, 0, 0}, kScanB}));
  ASSERT_EQ(4u, client.frames.size());
  jpeg = Walk(client.frames[3].bytes);
  ASSERT_TRUE(jpeg.valid);
  EXPECT_EQ(4u, jpeg.segments.count(0xC4)) << "each picture stands alone: a decoder keeps tables between pictures";
  EXPECT_EQ(Str(Cat({{1}, Bytes(tables.begin() + 64, tables.end())})),
            std::next(jpeg.segments.equal_range(0xDB).first)->second);
  EXPECT_EQ(Str(Cat({kScanB, kEoi})), jpeg.scan);

  // A table that the packet does not hold, or 16-bit tables: no picture.
  Send(true, Cat({JpegMainHeader(0, 1, 255, 40, 30), {0, 0, 0, 128}, Bytes(60, 1)}));
  Send(true, Cat({JpegMainHeader(0, 1, 255, 40, 30), {0, 1, 0, 128}, tables, kScanA}));
  EXPECT_EQ(4u, client.frames.size());
}

TEST_F(JpegDepacketizer, LargePicturesTakeTheirSizeFromDescriptionOrConfiguration) {
  client.defaultResolution = {1920, 1080};
  Send(true, Cat({JpegMainHeader(0, 1, 50, 240, 135), kScanA}));
  // 2560 x 1440 does not fit the header's width byte: 0, or wrapped to 512.
  client.defaultResolution = {2560, 1440};
  Send(true, Cat({JpegMainHeader(0, 1, 50, 0, 180), kScanA}));
  Send(true, Cat({JpegMainHeader(0, 1, 50, 64, 180), kScanA}));
  parser.SetSdpParameters({}, {}, {}, 2592, 1944);
  Send(true, Cat({JpegMainHeader(0, 1, 50, 0, 0), kScanA}));
  // A camera sending less than was asked for keeps its own size.
  client.defaultResolution = {640, 480};
  Send(true, Cat({JpegMainHeader(0, 1, 50, 22, 18), kScanA}));
  std::string sizes;
  for (const ParsedFrame& f : client.frames) sizes += std::to_string(f.width) + "x" + std::to_string(f.height) + " ";
  EXPECT_EQ(sizes, "1920x1080 2560x1440 2560x1440 2592x1944 176x144 ");
  ASSERT_EQ(5u, client.frames.size());
  // 1944 x 2592 in the frame header.
  EXPECT_EQ(Str({8, 0x07, 0x98, 0x0A, 0x20, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}),
            Walk(client.frames[3].bytes).segments.find(0xC0)->second);
}

TEST(JpegHeader, ComputedTablesFollowTheQFactor) {
  uint8_t tables[128];
  CJpegHeader::MakeTables(25, tables);  // factor 200
  EXPECT_EQ(32, tables[0]);
  EXPECT_EQ(198, tables[127]);
  CJpegHeader::MakeTables(99, tables);  // factor 2
  EXPECT_EQ(1, tables[1]);              // 11 * 2 / 100 rounds to 0, clamped to 1
  EXPECT_EQ(2, tables[63]);             // 99 * 2 / 100 rounds to 2
  CJpegHeader::MakeTables(0, tables);   // clamped to 1: factor 5000
  EXPECT_EQ(255, tables[0]);
}

}  // namespace
}  // namespace orbisan::test
