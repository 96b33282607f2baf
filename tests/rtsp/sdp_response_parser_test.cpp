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

// "port|protocol|address|control|encoding" of a media section, "-" when absent.
std::string Section(const SDP_MEDIA_INFO& m) {
  if (!m.present) return "-";
  return std::to_string(m.port) + "|" + m.transportProtocol + "|" + m.connectionAddress + "|" + m.control + "|" +
         m.encoding;
}

// What cameras in the field write: every line that does not read is
// skipped, and the video section is still found with its values.
TEST(SdpParserTest, FieldCameraDescriptions) {
  const std::string sps = kSps;
  const std::string pps = "aM48gA==";
  const std::vector<uint8_t> spsBytes = DecodeBase64(sps);
  const std::string startCodeSps =
      EncodeBase64(std::string("\0\0\0\x01", 4) + std::string(spsBytes.begin(), spsBytes.end()));
  struct Case {
    const char* name;
    std::string text;
    std::string video;
    bool sets;  // sps and pps both the ones above
    std::string audio = "-";
  };
  const std::string m = "m=video 0 RTP/AVP 96\r\n";
  const std::string map = "a=rtpmap:96 H264/90000\r\n";
  const std::string sprop = "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=" + sps + "," + pps + "\r\n";
  const std::string h264 = "0|RTP/AVP|||H264/90000";
  const Case cases[] = {
      {"no sprop", m + map + "a=fmtp:96 packetization-mode=1;profile-level-id=42c015\r\na=control:t1\r\n",
       "0|RTP/AVP||t1|H264/90000", false},
      {"one set, garbage set, sets reversed, blanks and quotes",
       m + map + "a=fmtp:96 sprop-parameter-sets = \"" + pps + ",!!!," + sps + "\" ; profile-level-id=zz\r\n", h264,
       true},
      {"start codes in front of the sets",
       m + map + "a=fmtp:96 sprop-parameter-sets=" + startCodeSps + "," + pps + "\r\n", h264, true},
      {"odd lines: no o=, two s=, bad c= and t=, blanks and tabs, attributes before rtpmap",
       "v=0\ns=a\r\ns=b\r\nt=now\r\nc=IN IP4\r\nc=XX\r\n" + m + "a=control:\r\nc=IN IPX 1.2.3.4\r\n" + sprop +
           "a=control:trackID=1 \t\r\nA=RTPMAP:96 H264/90000\t\r\na=control:trackID=2\r\n" + map,
       "0|RTP/AVP||trackID=1|H264/90000", true},
      {"a second video section lends nothing",
       m + "a=control:one\r\n" + map + sprop + "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:two\r\n",
       "0|RTP/AVP||one|H264/90000", true},
      {"the first format's map wins", "m=video 0 RTP/AVP 97 96\r\n" + map + "a=rtpmap:97 MP4V-ES/90000\r\n" + map,
       "0|RTP/AVP|||MP4V-ES/90000", false},
      {"unknown m= forms and sections", "m=\r\nm=text 0 RTP/AVP 98\r\na=fmtp:98 x\r\na=control:x\r\n" + m + map, h264,
       false},
      // The audio section has its own IP6 line, not the session's address.
      {"session-level address, port count",
       "c=IN IP4 239.1.2.3/16\r\nm=video 5000/2 RTP/AVP 96\r\n" + map +
           "m=audio 5002 RTP/AVP 0\r\nc=IN IP6 ff15::1\r\n",
       "5000|RTP/AVP|239.1.2.3||H264/90000", false, "5002|RTP/AVP|||"},
      {"no video at all", "v=0\r\nm=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n", "-", false,
       "0|RTP/AVP|||PCMU/8000"},
      {"garbage", "\x01\xff=\r\n\r\n==\n x=video\r\nv", "-", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSDPResponseParser parser;
    const bool parsed = parser.Parse(c.text);
    const SDP_SESSION_INFO& info = parser.GetSessionInfo();
    EXPECT_EQ(parsed, info.video.present || info.audio.present);
    EXPECT_EQ(Section(info.video), c.video);
    EXPECT_EQ(Section(info.audio), c.audio);
    EXPECT_EQ(info.sps, c.sets ? DecodeBase64(sps) : std::vector<uint8_t>{});
    EXPECT_EQ(info.pps, c.sets ? DecodeBase64(pps) : std::vector<uint8_t>{});
  }
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
// ends the lines. The session-level control * is not kept.
TEST(SdpParserTest, GStreamerDescriptions) {
  struct Case {
    const char* file;
    std::string video, audio;
    std::vector<uint8_t> sps, pps;
    size_t configSize;
  };
  const std::string h264 = "0|RTP/AVP|0.0.0.0|stream=0|H264/90000";
  const Case cases[] = {
      {"gst_h264.sdp", "0|RTP/AVP|0.0.0.0|stream=0|H264/90000", "-", DecodeBase64(kSps), {0x68, 0xCE, 0x3C, 0x80}, 0},
      {"gst_mpeg4.sdp", "0|RTP/AVP|0.0.0.0|stream=0|MP4V-ES/90000", "-", {}, {}, 47},
      {"gst_mjpeg.sdp", "0|RTP/AVP|0.0.0.0|stream=0|JPEG/90000", "-", {}, {}, 0},
      {"gst_pcmu.sdp", "-", "0|RTP/AVP|0.0.0.0|stream=0|PCMU/8000", {}, {}, 0},
  };
  for (const std::string end : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(end == "\r\n" ? "CR LF" : end == "\n" ? "LF" : "CR");
    CSDPResponseParser parser;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.file);
      ASSERT_TRUE(parser.Parse(WithLineEnd(ReadData(c.file), end)));
      const SDP_SESSION_INFO& info = parser.GetSessionInfo();
      EXPECT_EQ(Section(info.video), c.video);
      EXPECT_EQ(Section(info.audio), c.audio);
      EXPECT_EQ(info.sps, c.sps);
      EXPECT_EQ(info.pps, c.pps);
      ASSERT_EQ(info.config.size(), c.configSize);
      if (c.configSize > 0) {
        EXPECT_EQ(info.config[3], 0xB0) << "visual object sequence start code";
      }
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
