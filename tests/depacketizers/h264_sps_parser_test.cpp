#include "rtsp/h264_sps_parser.h"

#include <gtest/gtest.h>

#include "bit_writer.h"

namespace orbisan::test {
namespace {

struct SpsFields {
  uint32_t profile = 66;
  uint32_t level = 30;
  uint32_t spsId = 0;
  uint32_t chromaFormat = 1;
  bool separatePlanes = false;
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
    if (f.chromaFormat == 3) w.Bit(f.separatePlanes);
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

struct Size {
  bool ok;
  uint32_t width;
  uint32_t height;
};

Size ParseSps(const std::vector<uint8_t>& nal) {
  CH264SpsParser parser;
  Size s{false, 0, 0};
  s.ok = parser.Parse(nal.data(), nal.size(), s.width, s.height);
  return s;
}

void ExpectSize(const SpsFields& fields, uint32_t width, uint32_t height) {
  const Size s = ParseSps(MakeSps(fields));
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(width, s.width);
  EXPECT_EQ(height, s.height);
}

TEST(H264SpsParser, ReadsSizeAcrossProfilesAndOptionalParts) {
  SpsFields baseline;
  ExpectSize(baseline, 176, 144);

  SpsFields high;  // 1080p as encoders send it: 68 rows of macroblocks cropped by 8 lines
  high.profile = 100;
  high.level = 40;
  high.scalingMatrix = true;
  high.widthMbsMinus1 = 119;
  high.heightUnitsMinus1 = 67;
  high.crop = true;
  high.cropBottom = 4;
  ExpectSize(high, 1920, 1080);

  SpsFields pocCycle = baseline;  // picture order count type 1 with its offset list
  pocCycle.pocType = 1;
  pocCycle.widthMbsMinus1 = 79;
  pocCycle.heightUnitsMinus1 = 44;
  ExpectSize(pocCycle, 1280, 720);

  SpsFields fourFourFour;  // 4:4:4 has twelve scaling lists and crops in luma samples
  fourFourFour.profile = 244;
  fourFourFour.chromaFormat = 3;
  fourFourFour.scalingMatrix = true;
  fourFourFour.widthMbsMinus1 = 39;
  fourFourFour.heightUnitsMinus1 = 29;
  fourFourFour.crop = true;
  fourFourFour.cropRight = 3;
  ExpectSize(fourFourFour, 637, 480);

  SpsFields interlaced = high;  // 1080i: 34 map units of 32 lines, cropped by 2 field lines
  interlaced.heightUnitsMinus1 = 33;
  interlaced.frameMbsOnly = false;
  interlaced.cropBottom = 2;
  ExpectSize(interlaced, 1920, 1080);
}

TEST(H264SpsParser, RemovesEmulationPreventionBytes) {
  SpsFields f;
  f.level = 0;
  f.spsId = 255;  // eight leading zero bits right after a zero level byte
  const std::vector<uint8_t> nal = MakeSps(f);
  ASSERT_EQ(0x03, nal[4]) << "the test set must carry an escape";
  ExpectSize(f, 176, 144);
}

TEST(H264SpsParser, RejectsDamagedSets) {
  std::vector<uint8_t> nal = MakeSps(SpsFields{});
  EXPECT_FALSE(ParseSps(std::vector<uint8_t>(nal.begin(), nal.begin() + 6)).ok) << "cut short";
  std::vector<uint8_t> pps = nal;
  pps[0] = 0x68;
  EXPECT_FALSE(ParseSps(pps).ok) << "not an SPS";
  SpsFields overCropped;
  overCropped.crop = true;
  overCropped.cropLeft = 44;  // 88 columns from each side of 176
  overCropped.cropRight = 44;
  EXPECT_FALSE(ParseSps(MakeSps(overCropped)).ok);
  EXPECT_FALSE(ParseSps({0x67, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0}).ok) << "Exp-Golomb code longer than 32 bits";
}

}  // namespace
}  // namespace orbisan::test
