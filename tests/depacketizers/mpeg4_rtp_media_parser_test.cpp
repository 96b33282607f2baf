#include "rtsp/mpeg4_rtp_media_parser.h"

#include <gtest/gtest.h>

#include "depacketizer_fixture.h"
#include "rtsp/mpeg4_vol_parser.h"
#include "support/mpeg4_headers.h"

namespace orbisan::test {
namespace {

const Bytes kGov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07};
const Bytes kMore = {0x3E, 0xA8, 0xEC, 0x19};

// The parser's answer and the size it wrote (7 x 7 when it wrote none).
std::pair<int, std::pair<uint32_t, uint32_t>> ParseVol(const Bytes& header) {
  uint32_t w = 7, h = 7;
  const int ok = ParseMpegHeader(header.data(), static_cast<uint32_t>(header.size()), &w, &h);
  return {ok, {w, h}};
}

TEST(Mpeg4VolParser, ReadsSizeWithOptionalFieldsAndNeedsARectangularShape) {
  const VolFields all = {720, 576, 0, true, true, true, true};  // every optional field
  const Bytes plain = MakeConfig({});
  const std::pair<Bytes, std::pair<int, std::pair<uint32_t, uint32_t>>> cases[] = {
      {plain, {1, {176, 144}}},
      {Cat({MakeConfig(all), kIVop}), {1, {720, 576}}},
      {CapturedMpeg4Config(), {1, {176, 144}}},
      {MakeConfig({.shape = 2}), {0, {7, 7}}},
      {Cat({kIVop, plain}), {0, {7, 7}}},
      {Bytes(plain.begin(), plain.end() - 4), {0, {7, 7}}}};
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].second, ParseVol(cases[i].first)) << "case " << i;
}

using Mpeg4Depacketizer = ParserTest<CMpeg4RTPMediaParser>;

TEST_F(Mpeg4Depacketizer, DescriptionConfigGoesInFrontOfEveryIntraFrameUntilOneComesInBand) {
  Send(true, kIVop);  // no configuration yet: dropped, and what depends on it
  Send(true, kPVop);
  EXPECT_TRUE(client.frames.empty());
  const Bytes config = MakeConfig({});
  parser.SetSdpParameters({}, {}, config, 0, 0);
  Send(true, kPVop);  // before the first I-VOP: dropped
  Send(false, kIVop);
  Send(true, kMore);
  Send(true, kPVop);
  Send(true, kIVop);
  // A configuration in band replaces the description's.
  const Bytes inband = MakeConfig({.width = 352, .height = 288});
  Send(true, Cat({inband, kIVop}));
  Send(true, kPVop);
  Send(true, Cat({kGov, kIVop}));  // GOV header in front of the next I-VOP
  // A short configuration packet of its own counts as well.
  const Bytes small = MakeConfig({});
  ASSERT_LE(small.size(), 63u);
  Send(false, small);
  Send(true, kIVop);

  const std::pair<const char*, Bytes> expected[] = {{"DIVX 176x144/1 @18000", Cat({config, kIVop, kMore})},
                                                    {"DIVI 176x144/1 @21000", kPVop},
                                                    {"DIVX 176x144/1 @24000", Cat({config, kIVop})},
                                                    {"DIVX 352x288/2 @27000", Cat({inband, kIVop})},
                                                    {"DIVI 352x288/2 @30000", kPVop},
                                                    {"DIVX 352x288/2 @33000", Cat({inband, kGov, kIVop})},
                                                    {"DIVX 176x144/1 @36000", Cat({small, kIVop})}};
  ASSERT_EQ(client.frames.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(Summary(client.frames[i]), std::string(expected[i].first) + " Strandline::LiveStream");
    EXPECT_EQ(client.frames[i].bytes, Str(expected[i].second)) << expected[i].first;
  }
}

}  // namespace
}  // namespace orbisan::test
