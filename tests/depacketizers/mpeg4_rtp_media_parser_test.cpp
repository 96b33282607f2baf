#include "rtsp/mpeg4_rtp_media_parser.h"

#include <gtest/gtest.h>

#include "bit_writer.h"
#include "depacketizer_fixture.h"
#include "rtsp/mpeg4_vol_parser.h"
#include "support/mpeg4_headers.h"

namespace orbisan::test {
namespace {

using ipcapture::kFourCC_DIVI;
using ipcapture::kFourCC_DIVX;

const Bytes kGov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07};
const Bytes kMore = {0x3E, 0xA8, 0xEC, 0x19};

TEST(Mpeg4VolParser, ReadsSizeWithOptionalFields) {
  uint32_t w = 0, h = 0;
  const Bytes plain = MakeConfig({});
  EXPECT_EQ(1, ParseMpegHeader(plain.data(), static_cast<uint32_t>(plain.size()), &w, &h));
  EXPECT_EQ(176u, w);
  EXPECT_EQ(144u, h);

  VolFields all;
  all.width = 720;
  all.height = 576;
  all.layerIdentifier = all.extendedPar = all.vbv = all.fixedRate = true;
  const Bytes full = Cat({MakeConfig(all), kIVop});
  EXPECT_EQ(1, ParseMpegHeader(full.data(), static_cast<uint32_t>(full.size()), &w, &h));
  EXPECT_EQ(720u, w);
  EXPECT_EQ(576u, h);

  // The configuration ffmpeg's encoder wrote for the captured stream.
  const Bytes captured =
      FromHex(ReadText(std::string(STRANDLINE_TEST_DATA_DIR) + "/depacketizers/mpeg4_176x144_60.config"));
  EXPECT_EQ(1, ParseMpegHeader(captured.data(), static_cast<uint32_t>(captured.size()), &w, &h));
  EXPECT_EQ(176u, w);
  EXPECT_EQ(144u, h);
}

TEST(Mpeg4VolParser, RejectsHeadersWithoutARectangularSize) {
  uint32_t w = 7, h = 7;
  VolFields binary;
  binary.shape = 2;
  const Bytes shaped = MakeConfig(binary);
  EXPECT_EQ(0, ParseMpegHeader(shaped.data(), static_cast<uint32_t>(shaped.size()), &w, &h));
  const Bytes vopFirst = Cat({kIVop, MakeConfig({})});
  EXPECT_EQ(0, ParseMpegHeader(vopFirst.data(), static_cast<uint32_t>(vopFirst.size()), &w, &h));
  const Bytes config = MakeConfig({});
  EXPECT_EQ(0, ParseMpegHeader(config.data(), static_cast<uint32_t>(config.size() - 4), &w, &h));
  EXPECT_EQ(7u, w);
  EXPECT_EQ(7u, h);
}

class Mpeg4Depacketizer : public DepacketizerTest {
 protected:
  Mpeg4Depacketizer() : parser(&driver) { parser.SetClient(&client); }
  void Send(bool marker, const Bytes& payload) {
    parser.ProcessPacket(MakePacket(sequence++, timestamp, marker, payload));
    if (marker) timestamp += 3000;
  }
  CMpeg4RTPMediaParser parser;
  uint16_t sequence = 7;
  uint32_t timestamp = 1000;
};

TEST_F(Mpeg4Depacketizer, DescriptionConfigGoesInFrontOfEveryIntraFrame) {
  const Bytes config = MakeConfig({});
  parser.SetSdpParameters({}, {}, config, 0, 0);
  Send(true, kPVop);  // before the first I-VOP: dropped
  Send(false, kIVop);
  Send(true, kMore);
  Send(true, kPVop);
  Send(true, kIVop);

  ASSERT_EQ(3u, client.frames.size());
  EXPECT_EQ(kFourCC_DIVX, client.frames[0].fourcc);
  EXPECT_EQ(Str(Cat({config, kIVop, kMore})), client.frames[0].bytes);
  EXPECT_EQ(176u, client.frames[0].width);
  EXPECT_EQ(144u, client.frames[0].height);
  EXPECT_EQ(1u, client.frames[0].resolutionClass);
  EXPECT_EQ(4000u, client.frames[0].rtpTimestamp);
  EXPECT_EQ(kFourCC_DIVI, client.frames[1].fourcc);
  EXPECT_EQ(Str(kPVop), client.frames[1].bytes);
  EXPECT_EQ(176u, client.frames[1].width);
  EXPECT_EQ(Str(Cat({config, kIVop})), client.frames[2].bytes);
  EXPECT_EQ(allocator.created.load(), allocator.released.load());
}

TEST_F(Mpeg4Depacketizer, InBandConfigReplacesTheDescriptionOne) {
  parser.SetSdpParameters({}, {}, MakeConfig({}), 0, 0);
  VolFields cif;
  cif.width = 352;
  cif.height = 288;
  const Bytes inband = MakeConfig(cif);
  Send(true, Cat({inband, kIVop}));
  Send(true, kPVop);
  Send(true, Cat({kGov, kIVop}));  // GOV header in front of the next I-VOP

  ASSERT_EQ(3u, client.frames.size());
  EXPECT_EQ(kFourCC_DIVX, client.frames[0].fourcc);
  EXPECT_EQ(Str(Cat({inband, kIVop})), client.frames[0].bytes);
  EXPECT_EQ(352u, client.frames[0].width);
  EXPECT_EQ(2u, client.frames[0].resolutionClass);
  EXPECT_EQ(352u, client.frames[1].width);
  EXPECT_EQ(kFourCC_DIVX, client.frames[2].fourcc);
  EXPECT_EQ(Str(Cat({inband, kGov, kIVop})), client.frames[2].bytes);

  // A short configuration packet of its own counts as well.
  const Bytes small = MakeConfig({});
  ASSERT_LE(small.size(), 63u);
  Send(false, small);
  Send(true, kIVop);
  ASSERT_EQ(4u, client.frames.size());
  EXPECT_EQ(Str(Cat({small, kIVop})), client.frames[3].bytes);
  EXPECT_EQ(176u, client.frames[3].width);
}

TEST_F(Mpeg4Depacketizer, IntraFrameWithoutConfigurationIsDropped) {
  Send(true, kIVop);
  Send(true, kPVop);
  EXPECT_TRUE(client.frames.empty());
  parser.SetSdpParameters({}, {}, MakeConfig({}), 0, 0);
  Send(true, kIVop);
  EXPECT_EQ(1u, client.frames.size());
}

}  // namespace
}  // namespace orbisan::test
