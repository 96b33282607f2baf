#include "rtsp/sdp_response_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "rtsp/base64.h"

namespace orbisan {
namespace {

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(STRANDLINE_TEST_DATA_DIR) + "/rtsp/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const char kSps[] = "Z0LAFdoFB+wFqDAwNSgAAAMACAAAAwCkeLF1";

std::string H264Section(const std::string& fmtp) {
  return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=test\r\nt=0 0\r\n"
         "m=video 0 RTP/AVP 96\r\n"
         "a=rtpmap:96 H264/90000\r\n"
         "a=control:trackID=1\r\n" +
         fmtp + "\r\n";
}

TEST(SdpParserTest, FormatParameterFailures) {
  CSDPResponseParser parser;
  EXPECT_FALSE(parser.Parse(H264Section("a=fmtp:96 packetization-mode=1;profile-level-id=42c015")))
      << "video fmtp without sprop-parameter-sets or config";
  EXPECT_FALSE(parser.Parse(H264Section(std::string("a=fmtp:96 sprop-parameter-sets=") + kSps)))
      << "only one parameter set";
  EXPECT_FALSE(parser.Parse("v=0\r\na=fmtp:96 config=000001b0\r\nm=video 0 RTP/AVP 96\r\n")) << "fmtp before m=";
  // A fmtp line in an unknown media section counts as being before any media.
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\nm=text 0 RTP/AVP 98\r\na=fmtp:98 anything\r\n"));
  // Audio and metadata fmtp lines are accepted without looking at them.
  EXPECT_TRUE(
      parser.Parse("m=audio 0 RTP/AVP 0\r\na=fmtp:0 whatever\r\nm=application 0 RTP/AVP 107\r\na=fmtp:107 x\r\n"));
}

TEST(SdpParserTest, ConnectionLines) {
  CSDPResponseParser parser;
  ASSERT_TRUE(
      parser.Parse("c=IN IP4 10.0.0.1\r\nm=video 5000 RTP/AVP 96\r\nc=IN IP4 239.1.2.3/16\r\n"
                   "m=audio 5002 RTP/AVP 0\r\nc=IN IP6 ff15::1\r\n"));
  const SDP_SESSION_INFO& info = parser.GetSessionInfo();
  EXPECT_EQ(info.video.connectionAddress, "239.1.2.3");
  EXPECT_EQ(info.video.port, 5000);
  EXPECT_EQ(info.audio.connectionAddress, "") << "IP6 is accepted but not stored";
  EXPECT_EQ(info.audio.port, 5002);
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\nc=IN IPX 1.2.3.4\r\n"));
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\nc=IN IP4\r\n"));
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\nc=In IP4 1.2.3.4\r\n")) << "network type must be IN exactly";
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\nc=IN IP4 /24\r\n")) << "IP4 without an address";
}

TEST(SdpParserTest, ControlLines) {
  CSDPResponseParser parser;
  ASSERT_TRUE(
      parser.Parse("a=control:*\r\nm=video 0 RTP/AVP 26\r\na=control:first\r\na=control:second\r\n"
                   "m=audio 0 RTP/AVP 0\r\na=control:rtsp://cam/audio\r\n"));
  EXPECT_EQ(parser.GetSessionInfo().video.control, "first");
  EXPECT_EQ(parser.GetSessionInfo().audio.control, "rtsp://cam/audio");
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 26\r\na=control:\r\n"));
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 26\r\nA=CONTROL:x\r\n")) << "key matched as written";
}

TEST(SdpParserTest, PictureSize) {
  CSDPResponseParser parser;
  for (const auto& [text, width, height] :
       {std::tuple{"640,480", 640u, 480u}, {"640", 0u, 0u}, {"64x,480", 0u, 480u}}) {
    ASSERT_TRUE(parser.Parse(std::string("m=video 0 RTP/AVP 26\r\na=x-dimensions:") + text + "\r\n"));
    EXPECT_EQ(parser.GetSessionInfo().width, width) << text;
    EXPECT_EQ(parser.GetSessionInfo().height, height) << text;
  }
}

TEST(SdpParserTest, MpegConfigHexOrBase64) {
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 profile-level-id=1;config=000001B0F5\r\n"));
  EXPECT_EQ(parser.GetSessionInfo().config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0, 0xF5}));
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 config=AAABsA==;profile-level-id=1\r\n"));
  EXPECT_EQ(parser.GetSessionInfo().config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0}));
}

TEST(SdpParserTest, MediaLinesAndRtpMap) {
  CSDPResponseParser parser;
  ASSERT_TRUE(
      parser.Parse("m=video 0 RTP/AVP 96\r\nm=video 4000 RTP/AVP/TCP 96\r\nm=metadata 6000 RTP/AVP 107\r\n"
                   "a=rtpmap:107\r\nm=data\r\nm=audio 70000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n"));
  const SDP_SESSION_INFO& info = parser.GetSessionInfo();
  EXPECT_EQ(info.video.port, 4000) << "a later media line of the same kind overwrites";
  EXPECT_EQ(info.video.transportProtocol, "RTP/AVP/TCP");
  EXPECT_EQ(info.metadata.port, 6000) << "m=data with too few tokens stores nothing";
  EXPECT_EQ(info.audio.port, 0) << "a port beyond 16 bits is not a port";
  EXPECT_EQ(info.audio.encoding, "PCMU/8000");
  EXPECT_FALSE(parser.Parse("m=video 0 RTP/AVP 96\r\na=rtpmap:96\r\n")) << "rtpmap without encoding";
  EXPECT_FALSE(parser.Parse("m=\r\n"));
  EXPECT_TRUE(parser.Parse("m=text 0 RTP/AVP 98\r\na=rtpmap:98 t140/1000\r\n")) << "unknown kind is accepted";
  EXPECT_TRUE(parser.GetSessionInfo().video.encoding.empty());
  EXPECT_TRUE(parser.Parse(""));
}

// The captured description with its lines ended by CR LF as sent, by LF
// alone, or by CR alone.
std::string WithLineEnd(const std::string& crlf, const std::string& end) {
  std::string out;
  for (char c : crlf) {
    if (c == '\n') out += end;
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

// Descriptions captured from GStreamer's RTSP server, parsed one after another
// by the same parser: each result holds nothing of the one before, whatever
// ends the lines.
TEST(SdpParserTest, GStreamerDescriptions) {
  for (const std::string end : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(end == "\r\n" ? "CR LF" : end == "\n" ? "LF" : "CR");
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse(WithLineEnd(ReadData("gst_h264.sdp"), end)));
    {
      const SDP_SESSION_INFO& info = parser.GetSessionInfo();
      EXPECT_EQ(info.video.encoding, "H264/90000");
      EXPECT_EQ(info.video.control, "stream=0") << "the session-level control * is not kept";
      EXPECT_EQ(info.video.connectionAddress, "0.0.0.0");
      EXPECT_EQ(info.video.transportProtocol, "RTP/AVP");
      EXPECT_EQ(info.sps, DecodeBase64(kSps));
      EXPECT_EQ(info.pps, (std::vector<uint8_t>{0x68, 0xCE, 0x3C, 0x80}));
    }
    ASSERT_TRUE(parser.Parse(WithLineEnd(ReadData("gst_mpeg4.sdp"), end)));
    {
      const SDP_SESSION_INFO& info = parser.GetSessionInfo();
      EXPECT_EQ(info.video.encoding, "MP4V-ES/90000");
      ASSERT_EQ(info.config.size(), 47u);
      EXPECT_EQ(info.config[3], 0xB0) << "visual object sequence start code";
      EXPECT_TRUE(info.sps.empty());
    }
    ASSERT_TRUE(parser.Parse(WithLineEnd(ReadData("gst_mjpeg.sdp"), end)));
    {
      const SDP_SESSION_INFO& info = parser.GetSessionInfo();
      EXPECT_EQ(info.video.encoding, "JPEG/90000");
      EXPECT_EQ(info.video.control, "stream=0");
      EXPECT_TRUE(info.config.empty());
    }
    ASSERT_TRUE(parser.Parse(WithLineEnd(ReadData("gst_pcmu.sdp"), end)));
    {
      const SDP_SESSION_INFO& info = parser.GetSessionInfo();
      EXPECT_EQ(info.audio.encoding, "PCMU/8000");
      EXPECT_EQ(info.audio.control, "stream=0");
      EXPECT_EQ(info.audio.connectionAddress, "0.0.0.0");
      EXPECT_EQ(info.video.port, 0);
      EXPECT_TRUE(info.video.encoding.empty());
    }
  }
}

TEST(Base64Test, DecodingRules) {
  EXPECT_EQ(DecodeBase64("aGVsbG8="), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(DecodeBase64("aGVs\r\n bG8"), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}))
      << "foreign characters skipped";
  EXPECT_EQ(DecodeBase64(std::string("aGVs\0bG8", 8)), (std::vector<uint8_t>{'h', 'e', 'l'})) << "NUL ends the text";
  EXPECT_EQ(DecodeBase64(std::string(340, 'A')).size(), 255u);
  EXPECT_EQ(DecodeBase64(std::string(344, 'A')).size(), 0u) << "258 bytes is too long";
  EXPECT_EQ(DecodeBase64(std::string(344, 'A') + "==").size(), 0u);
  EXPECT_EQ(DecodeBase64(std::string(341, 'A') + "A==").size(), 256u);
}

TEST(Base64Test, EncodeRoundTrip) {
  EXPECT_EQ(EncodeBase64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("a"), "YQ==");
  EXPECT_EQ(EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(EncodeBase64("ab\xff\xfe\x01\x80"), "YWL//gGA") << "bytes above 127";
}

}  // namespace
}  // namespace orbisan
