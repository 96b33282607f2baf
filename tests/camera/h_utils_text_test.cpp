#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "camera/h_utils.h"

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace H = HUtils;

TEST(AnswerText, LineEndsAndEmptyValues) {
  // The value is kept as it stands.
  EXPECT_EQ(H::GetValue("Production ID = ACM8201 \r\n", "Production ID", " = ", "\r\n"), "ACM8201 ");
  // Last line without a line end.
  EXPECT_EQ(H::GetValue("A='1'\r\nB='2'", "B", "=", "\r\n"), "'2'");
  // Empty values are passed over and the search goes on.
  EXPECT_EQ(H::GetValue("K=\r\nK=\rK=\nK=last", "K", "=", "\r\n"), "last");
  EXPECT_EQ(H::GetValue("K=\r\n", "K", "=", "\r\n"), "");
  // CR alone and LF alone each end a line.
  EXPECT_EQ(H::GetValue("A=1\rB=2\nC=3", "B", "=", "\r\n"), "2");
  EXPECT_EQ(H::GetValue("A=1\rB=2\nC=3", "C", "=", "\r\n"), "3");
  // A separator on a later line does not belong to the key's line.
  EXPECT_EQ(H::GetValue("KEY\r\nOTHER=1\r\nKEY=2", "KEY", "=", "\r\n"), "2");
  // Quoted values read with the quote as separator and line end.
  EXPECT_EQ(H::GetValue("VIDEO_STREAM='DUAL'\r\n", "VIDEO_STREAM", "='", " '\r\n"), "DUAL");
  // Empty arguments and absent keys.
  EXPECT_EQ(H::GetValue("A=1", "", "=", "\r\n"), "");
  EXPECT_EQ(H::GetValue("A=1", "A", "", "\r\n"), "");
  EXPECT_EQ(H::GetValue("A=1", "A", "=", ""), "");
  EXPECT_EQ(H::GetValue("", "A", "=", "\r\n"), "");
  EXPECT_EQ(H::GetValue("A", "A", "=", "\r\n"), "");
}

TEST(AnswerText, ListsAndCharacters) {
  EXPECT_THAT(H::GetValueList("FISHEYE_INSTALL='WALL,,360'\r\n", "FISHEYE_INSTALL", "=", "\r\n", ","),
              ElementsAre("'WALL", "360'"));
  EXPECT_THAT(H::GetValueList("X=1", "Y", "=", "\r\n", ","), IsEmpty());
  EXPECT_EQ(H::RemoveChars(" 'a b'\r\n", " '\r\n"), "ab");
  EXPECT_EQ(H::FormatString("%s=%u", "N", 5u), "N=5");
}

TEST(AnswerText, ParseInt) {
  int value = 0;
  // Out-of-range numbers are held at the limit.
  for (const auto& [text, expected] : {std::pair{"12", 12}, {"-3", -3}, {"+7", 7}, {"99999999999", 2147483647}}) {
    EXPECT_TRUE(H::ParseInt(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  value = 42;
  for (const char* bad : {"", "-", "+", "1a", " 1", "1 ", "--1", "0x10"}) {
    EXPECT_FALSE(H::ParseInt(bad, value)) << bad;
  }
  EXPECT_EQ(value, 42);
}

TEST(AnswerText, ChangeParamSendsOnlyWhatDiffers) {
  const std::string answer = "VIDEO_ENCODER='H264'\r\nVIDEO_FPS_NUM='025'\r\nVIDEO_GOP=''\r\nERROR: VIDEO_X\r\n";
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_ENCODER", "H264"), "");
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_ENCODER", "MJPEG"), "&VIDEO_ENCODER=MJPEG");
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_X", "1"), "");
  EXPECT_EQ(H::ChangeParam(answer, "VIDEO_GOP", "0"), "&VIDEO_GOP=0");
  // Numbers compare by value.
  EXPECT_EQ(H::ChangeParamU(answer, "VIDEO_FPS_NUM", 25), "");
  EXPECT_EQ(H::ChangeParamU(answer, "VIDEO_FPS_NUM", 24), "&VIDEO_FPS_NUM=24");
  EXPECT_EQ(H::ChangeParamU(answer, "VIDEO_MISSING", 1), "");
}

}  // namespace
}  // namespace orbisan::test
