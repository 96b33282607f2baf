#include "rtsp/h264_rtp_media_parser.h"

#include <gtest/gtest.h>

#include "bit_writer.h"
#include "depacketizer_fixture.h"

namespace orbisan::test {
namespace {

using ipcapture::kFourCC_H264;
using ipcapture::kFourCC_I264;

const Bytes kStart = {0, 0, 1};
const Bytes kAud = {0, 0, 1, 0x09, 0x30};

const Bytes kSps720 = BaselineSps(80, 45);
const Bytes kSps1080 = BaselineSps(120, 68);
const Bytes kPps = {0x68, 0xCE, 0x3C, 0x80};
const Bytes kPps2 = {0x68, 0xCE, 0x38, 0x80};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x21, 0xA0};
const Bytes kSlice = {0x41, 0x9A, 0x20, 0x2E};

Bytes Fu(uint8_t flags, uint8_t type, const Bytes& data) {
  Bytes out = {0x7C, static_cast<uint8_t>(flags | type)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
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

class H264Depacketizer : public ParserTest<CH264RTPMediaParser> {
 protected:
  // One delta frame as a single packet.
  void SendDelta() { Send(true, kSlice); }
};

TEST_F(H264Depacketizer, KeyFrameGetsDescriptionSetsAndDeltaFramesFollow) {
  parser.SetSdpParameters(kSps720, kPps, {}, 0, 0);
  EXPECT_EQ(1280u, parser.GetWidth());
  Send(false, {0x09, 0x10});        // access unit delimiter: dropped
  Send(false, {0x06, 0x05, 0x01});  // SEI: dropped
  timestamp = 45000;
  Send(true, kIdr);
  SendDelta();

  ASSERT_EQ(2u, client.frames.size());
  const ParsedFrame& key = client.frames[0];
  EXPECT_EQ(kFourCC_H264, key.fourcc);
  EXPECT_EQ(Str(Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud})), key.bytes);
  EXPECT_EQ(1280u, key.width);
  EXPECT_EQ(720u, key.height);
  EXPECT_EQ(4u, key.resolutionClass);
  EXPECT_EQ(45000u, key.rtpTimestamp);
  EXPECT_EQ("Strandline::LiveStream", key.streamName);
  const ParsedFrame& delta = client.frames[1];
  EXPECT_EQ(kFourCC_I264, delta.fourcc);
  EXPECT_EQ(Str(Cat({kStart, kSlice, kAud})), delta.bytes);
  EXPECT_EQ(1280u, delta.width);
}

TEST_F(H264Depacketizer, FragmentedKeyFrameRightAfterTheStartGetsTheDescriptionSets) {
  parser.SetSdpParameters(kSps720, kPps, {}, 0, 0);
  Send(false, Fu(0x80, 5, {0x88, 0x84}));
  Send(true, Fu(0x40, 5, {0x21, 0xA0}));
  ASSERT_EQ(1u, client.frames.size()) << "the first group of pictures is not lost";
  EXPECT_EQ(kFourCC_H264, client.frames[0].fourcc);
  EXPECT_EQ(Str(Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud})), client.frames[0].bytes);
}

TEST_F(H264Depacketizer, InBandSetsReplaceStoredOnesAndNeverAppearOnTheirOwn) {
  parser.SetSdpParameters(kSps720, kPps, {}, 0, 0);
  Send(false, kSps1080);
  Send(false, kPps2);
  Send(true, kIdr);
  SendDelta();
  Send(false, kSps720);  // sets between delta frames
  Send(false, kPps);
  SendDelta();

  ASSERT_EQ(3u, client.frames.size());
  EXPECT_EQ(Str(Cat({kStart, kSps1080, kStart, kPps2, kStart, kIdr, kAud})), client.frames[0].bytes);
  EXPECT_EQ(1920u, client.frames[0].width);
  EXPECT_EQ(1088u, client.frames[0].height);
  EXPECT_EQ(Str(Cat({kStart, kSlice, kAud})), client.frames[1].bytes);
  EXPECT_EQ(Str(Cat({kStart, kSlice, kAud})), client.frames[2].bytes);
}

TEST_F(H264Depacketizer, StapAWithSetsAndIdrMakesAKeyFrame) {
  Send(true, Stap({kSps720, kPps, kIdr}));
  ASSERT_EQ(1u, client.frames.size());
  EXPECT_EQ(kFourCC_H264, client.frames[0].fourcc);
  EXPECT_EQ(Str(Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud})), client.frames[0].bytes);
  EXPECT_EQ(720u, client.frames[0].height);

  // An aggregate whose unit runs past its end costs the frame in progress.
  Send(false, {0x01, 0x02});
  Send(false, {0x18, 0x00, 0x09, 0x41, 0x9A});
  Send(true, kSlice);
  EXPECT_EQ(1u, client.frames.size());
}

TEST_F(H264Depacketizer, FragmentedSeiDoesNotHideTheKeyFrame) {
  Send(false, kSps720);
  Send(false, kPps);
  Send(false, Fu(0x80, 6, {0x05, 0x10}));  // a long SEI in front of the IDR
  Send(false, Fu(0x40, 6, {0x80}));
  Send(false, Fu(0x80, 5, {0x88, 0x84}));
  Send(true, Fu(0x40, 5, {0x21, 0xA0}));
  ASSERT_EQ(1u, client.frames.size());
  EXPECT_EQ(kFourCC_H264, client.frames[0].fourcc);
  EXPECT_EQ(Str(Cat({kStart, kSps720, kStart, kPps, kStart, kIdr, kAud})), client.frames[0].bytes);
}

TEST_F(H264Depacketizer, SequenceNumbersWrapWithoutABreak) {
  sequence = 65534;
  Send(false, kSps720);
  Send(false, kPps);
  Send(true, kIdr);  // sequence 0
  SendDelta();
  EXPECT_EQ(2u, client.frames.size());
}

TEST_F(H264Depacketizer, UnsupportedPacketizationResetsSilently) {
  parser.SetSdpParameters(kSps720, kPps, {}, 0, 0);
  Send(true, kIdr);
  for (uint8_t type : {0, 25, 26, 27, 29, 30, 31}) {
    Send(false, kSlice);
    Send(false, {type, 0x11, 0x22, 0x33});
    Send(true, kSlice);
  }
  Send(false, {0x41});  // a single NAL unit needs two bytes
  Send(true, kSlice);
  EXPECT_EQ(1u, client.frames.size());
  EXPECT_TRUE(driver.Lines().empty());
  Send(true, kIdr);
  EXPECT_EQ(2u, client.frames.size());
}

TEST_F(H264Depacketizer, TinyPictureTakesTheConfiguredSize) {
  client.defaultResolution = {704, 576};
  Send(false, BaselineSps(8, 6));  // 128 x 96
  Send(false, kPps);
  Send(true, kIdr);
  ASSERT_EQ(1u, client.frames.size());
  EXPECT_EQ(704u, client.frames[0].width);
  EXPECT_EQ(576u, client.frames[0].height);
  EXPECT_EQ(4u, client.frames[0].resolutionClass);
}

}  // namespace
}  // namespace orbisan::test
