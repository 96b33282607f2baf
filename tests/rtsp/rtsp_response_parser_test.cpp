#include "rtsp/rtsp_response_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "rtsp/base64.h"
#include "rtsp/sdp_response_parser.h"

namespace orbisan {
namespace {

std::string Answer(const std::string& headers, int status = 200) {
  return "RTSP/1.0 " + std::to_string(status) + " Whatever\r\n" + headers + "\r\n";
}

// Answers as cameras write them: every status reads (the client judges it),
// a CSeq of the camera's own numbering is no failure, and values come with
// blanks, case, quotes and parameters in any order. Only what would break a
// later request (a line break inside a camera text) or what the client
// cannot use fails.
TEST(RtspResponseParserTest, AnswerVariants) {
  struct Case {
    const char* name;
    std::string answer;
    uint32_t kind;
    bool ok;
    uint32_t status;
    std::string session = "";
    uint32_t timeout = 0;
    int channel = -1;  // expected interleaved RTP channel, -1: not looked at
    uint32_t ssrc = 0;
    uint16_t serverPort = 0;
  };
  const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n";
  const Case cases[] = {
      {"odd reason and version", "RTSP/1.1 200 Everything is fine, thanks\r\n\r\n", kRtspOptions, true, 200},
      {"no reason phrase", "RTSP/1.0 200\r\nCSeq: 1\r\n\r\n", kRtspOptions, true, 200},
      {"refusal with a wrong CSeq", "RTSP/1.0 405 Method Not Allowed\r\nCSeq: 7\r\n\r\n", kRtspOptions, true, 405},
      {"unreadable CSeq", "RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n", kRtspOptions, true, 200},
      {"no status", "RTSP/1.0\r\n\r\n", kRtspOptions, false, 0},
      {"trailing blanks, blanks and id characters",
       ok + "Session:  a$-_.+9 \t; timeout = 60 \t\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1 \r\n", kRtspSetup,
       true, 200, "a$-_.+9", 60, 0},
      {"session parameters without a timeout", ok + "Session: 1234;foo=bar\r\n", kRtspSetup, true, 200, "1234"},
      {"timeout=0 and quoted", ok + "Session: 1234;TimeOut=\"0\"\r\n", kRtspSetup, true, 200, "1234", 30},
      {"empty Session", ok + "Session: \r\n", kRtspSetup, true, 200},
      {"line break in the session", ok + "Session: 12\n34\r\n", kRtspSetup, false, 200},
      {"transport reordered, mixed case, quoted, short padded ssrc",
       ok + "transport: RTP/AVP;SSRC= \"  1A2b \" ;Server_Port=\"6000-6001\";UNICAST;client_port=5000-5001\r\n",
       kRtspSetup, true, 200, "", 0, 0, 0x1A2B, 6000},
      {"the camera's channel pair, no /TCP",
       ok + "Transport: RTP/AVP;unicast;interleaved=6-7,RTP/AVP/TCP;interleaved=0-1\r\nSession: 9\r\n", kRtspSetup,
       true, 200, "9", 0, 6},
      {"no server_port", ok + "Transport: RTP/AVP/UDP;unicast;client_port=5000-5001;ssrc=DEADBEEF0\r\n", kRtspSetup,
       true, 200, "", 0, 0},
      {"RTP-Info of no track", ok + "RTP-Info: url=rtsp://cam/nothing;seq=1;rtptime=2\r\n", kRtspPlay, true, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRTSPResponseParser parser;
    parser.NextCSeq();
    EXPECT_EQ(parser.Parse(c.answer, c.kind), c.ok) << parser.GetError();
    EXPECT_EQ(parser.GetStatusCode(), c.status);
    if (!c.ok) {
      EXPECT_FALSE(parser.GetError().empty());
      continue;
    }
    EXPECT_EQ(parser.GetSessionId(), c.session);
    EXPECT_EQ(parser.GetSessionTimeout(), c.timeout);
    if (c.channel >= 0) {
      EXPECT_EQ(parser.GetInterleavedChannel(), c.channel);
    }
    EXPECT_EQ(parser.GetTransport().ssrcGiven, c.ssrc != 0);
    EXPECT_EQ(parser.GetTransport().ssrc, c.ssrc);
    EXPECT_EQ(parser.GetTransport().serverRtpPort, c.serverPort);
  }
}

// What one parser takes from a 401 answer to DESCRIBE with these headers:
// "scheme algorithm realm nonce opaque" and qop, stale; "refused" when the
// answer fails, "none" without a challenge it can answer.
std::string Challenge(CRTSPResponseParser& parser, const std::string& headers) {
  if (!parser.Parse(Answer(headers, 401), kRtspDescribe)) return "refused";
  if (parser.GetAuthScheme() == kAuthNone) return "none";
  return std::to_string(parser.GetAuthScheme()) + " " + std::to_string(static_cast<int>(parser.GetDigestAlgorithm())) +
         " " + parser.GetRealm() + " " + parser.GetNonce() + " " + parser.GetOpaque() +
         (parser.GetQopAuth() ? " qop" : "") + (parser.GetStale() ? " stale" : "");
}

TEST(RtspResponseParserTest, HeaderVariantsDescribeBodyAndChallenges) {
  CRTSPResponseParser parser;
  parser.NextCSeq();
  EXPECT_FALSE(parser.Parse(Answer("Content-Length: many\r\n"), kRtspOptions));
  EXPECT_FALSE(parser.Parse(Answer("Content-Length: 4294967296\r\n"), kRtspOptions)) << "beyond the answer cap";
  EXPECT_TRUE(parser.Parse(Answer("cseq: 1\r\nX: 1\r\nA:b\r\n: x\r\nno colon here\r\n"), kRtspOptions))
      << "unknown headers and lines without a name are skipped";

  // Name case, blanks around the colon (or none) and long lines.
  const std::string longServer = "Server: " + std::string(3000, 's') + "\r\n";
  ASSERT_TRUE(
      parser.Parse(Answer(longServer + "CONTENT-BASE:rtsp://Cam.local:554/Live/ \r\ncontent-type :Application/SDP; "
                                       "charset=utf-8\r\nContent-Location: /loc\r\nLocation: rtsp://x/\r\n"),
                   kRtspSetup));
  EXPECT_EQ(parser.GetContentBase(), "rtsp://Cam.local:554/Live/") << "received case, trimmed";
  EXPECT_EQ(parser.GetContentType(), "application/sdp");
  EXPECT_EQ(parser.GetContentLocation(), "/loc");
  EXPECT_EQ(parser.GetLocation(), "rtsp://x/");
  uint64_t length = 0;
  EXPECT_TRUE(CRTSPResponseParser::ReadContentLength(Answer(longServer + "content-length:500\r\n"), length));
  EXPECT_EQ(length, 500u);
  EXPECT_TRUE(CRTSPResponseParser::ReadContentLength(Answer("Content-Length :\t4294967296 \r\n"), length));
  EXPECT_EQ(length, 4294967296u) << "read in full, so that it can be refused";
  EXPECT_FALSE(CRTSPResponseParser::ReadContentLength(Answer("Content-Length: -1\r\n"), length));
  ASSERT_TRUE(parser.Parse(Answer(""), kRtspOptions));
  EXPECT_TRUE(parser.GetLocation().empty()) << "a Location holds for its own answer only";
  EXPECT_EQ(parser.GetContentBase(), "rtsp://Cam.local:554/Live/") << "the base outlives its answer";
  uint32_t cseq = 0;
  EXPECT_TRUE(CRTSPResponseParser::ReadCSeq(Answer("X: 1\r\ncseq:12\r\n"), cseq));
  EXPECT_EQ(cseq, 12u);
  EXPECT_FALSE(CRTSPResponseParser::ReadCSeq(Answer("X: 1\r\n") + "CSeq: 3\r\n", cseq)) << "body is no header";

  // A description behind its answer.
  std::ifstream file(std::string(STRANDLINE_TEST_DATA_DIR) + "/rtsp/gst_describe_h264.txt", std::ios::binary);
  const std::string describe(std::istreambuf_iterator<char>(file), {});
  ASSERT_TRUE(parser.Parse(describe, kRtspDescribe));
  EXPECT_EQ(parser.GetContentLength(), 526u);
  EXPECT_EQ(parser.GetSessionInfo().video.encoding, "H264/90000");
  EXPECT_EQ(parser.GetSessionInfo().video.control, "stream=0");
  EXPECT_NE(parser.GetContentBase().find("rtsp://127.0.0.1:"), std::string::npos);

  // A description that does not read, or none for want of a length, leaves
  // the session without the media of the one before; the answer itself is good.
  for (const std::string& noMedia : {Answer("Content-Length: 9\r\n") + "garbage\r\n", Answer("CSeq: 1\r\n")}) {
    ASSERT_TRUE(parser.Parse(describe, kRtspDescribe));
    EXPECT_TRUE(parser.Parse(noMedia, kRtspDescribe)) << noMedia;
    EXPECT_FALSE(parser.GetSessionInfo().video.present) << noMedia;
  }
  // A 401 page is not a description.
  EXPECT_TRUE(parser.Parse(Answer("Content-Length: 11\r\n", 401) + "<html></ht", kRtspDescribe));

  // Several challenges: the strongest the client can answer decides, whatever
  // their order; unknown algorithms are passed over. The next answer's
  // challenge replaces it even when weaker.
  const std::string md5 = std::to_string(static_cast<int>(DigestAlgorithm::kMd5));
  const std::string sha256 = std::to_string(static_cast<int>(DigestAlgorithm::kSha256));
  const std::pair<std::string, std::string> cases[] = {
      {"WWW-Authenticate: Digest realm=\"GStreamer Server\", nonce=\"1a2b3c\"\r\n",
       "2 " + md5 + " GStreamer Server 1a2b3c "},
      {"WWW-Authenticate: Basic realm=\"b\"\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
       "WWW-Authenticate: Digest realm=\"s\", nonce=\"m\", algorithm=SHA-256, qop=\"auth-int,auth\", opaque=\"op\"\r\n"
       "WWW-Authenticate: Digest realm=\"x\", nonce=\"x\", algorithm=SHA-512-256\r\n"
       "WWW-Authenticate: Basic realm=\"c\"\r\n",
       "2 " + sha256 + " s m op qop"},
      // auth-int alone is not auth
      {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n2\", qop=\"auth-int\", stale=TRUE\r\n",
       "2 " + md5 + " r n2  stale"},
      {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\nWWW-Authenticate: Basic realm=\"b\"\r\n",
       "2 " + md5 + " r n "},
      {"WWW-Authenticate: NTLM\r\n", "none"},
      {"WWW-Authenticate: Digest realm=\"r\"\r\n", "refused"},  // no nonce
      {"Www-Authenticate:digest realm=\"r\", nonce=\"n\"\r\n", "2 " + md5 + " r n "},
  };
  for (const auto& [headers, expected] : cases) EXPECT_EQ(Challenge(parser, headers), expected) << headers;
}

// "port|protocol|address|control|encoding" of a media section, "-" when absent.
std::string Section(const SDP_MEDIA_INFO& m) {
  if (!m.present) return "-";
  return std::to_string(m.port) + "|" + m.transportProtocol + "|" + m.connectionAddress + "|" + m.control + "|" +
         m.encoding;
}

// What cameras in the field write: every line that does not read is
// skipped, and the video section is still found with its values.
TEST(SdpParserTest, FieldCameraDescriptions) {
  const std::string sps = "Z0LAFdoFB+wFqDAwNSgAAAMACAAAAwCkeLF1";
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
      // The session-level control * is not kept; the section's own address is.
      {"no sprop",
       "a=control:*\r\n" + m + "c=IN IP4 0.0.0.0\r\n" + map +
           "a=fmtp:96 packetization-mode=1;profile-level-id=42c015\r\na=control:t1\r\n",
       "0|RTP/AVP|0.0.0.0|t1|H264/90000", false},
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
      {"session-level address, port count, lines ended by LF alone",
       "c=IN IP4 239.1.2.3/16\nm=video 5000/2 RTP/AVP 96\na=rtpmap:96 H264/90000\nm=audio 5002 RTP/AVP 0\nc=IN IP6 "
       "ff15::1\n",
       "5000|RTP/AVP|239.1.2.3||H264/90000", false, "5002|RTP/AVP|||"},
      {"no video at all, lines ended by CR alone", "v=0\rm=audio 0 RTP/AVP 0\ra=rtpmap:0 PCMU/8000\r", "-", false,
       "0|RTP/AVP|||PCMU/8000"},
      {"garbage", "\x01\xff=\r\n\r\n==\n x=video\r\nv", "-", false},
  };
  CSDPResponseParser parser;  // each result holds nothing of the one before
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool parsed = parser.Parse(c.text);
    const SDP_SESSION_INFO& info = parser.GetSessionInfo();
    EXPECT_EQ(parsed, info.video.present || info.audio.present);
    EXPECT_EQ(Section(info.video), c.video);
    EXPECT_EQ(Section(info.audio), c.audio);
    EXPECT_EQ(info.sps, c.sets ? DecodeBase64(sps) : std::vector<uint8_t>{});
    EXPECT_EQ(info.pps, c.sets ? DecodeBase64(pps) : std::vector<uint8_t>{});
  }
  // Picture size, and the MPEG-4 configuration in hex or base64.
  for (const auto& [text, width, height] :
       {std::tuple{"640,480", 640u, 480u}, {"640", 0u, 0u}, {"64x,480", 0u, 480u}}) {
    ASSERT_TRUE(parser.Parse(std::string("m=video 0 RTP/AVP 26\r\na=x-dimensions:") + text + "\r\n"));
    EXPECT_EQ(parser.GetSessionInfo().width, width) << text;
    EXPECT_EQ(parser.GetSessionInfo().height, height) << text;
  }
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 profile-level-id=1;config=000001B0f5\r\n"));
  EXPECT_EQ(parser.GetSessionInfo().config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0, 0xF5}));
  ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 config=AAABsA==;profile-level-id=1\r\n"));
  EXPECT_EQ(parser.GetSessionInfo().config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0}));
}

TEST(Base64Test, DecodingAndEncodingRules) {
  const std::vector<uint8_t> hello = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(DecodeBase64("aGVsbG8="), hello);
  EXPECT_EQ(DecodeBase64("aGVs\r\n bG8"), hello) << "foreign characters skipped";
  EXPECT_EQ(DecodeBase64(std::string("aGVs\0bG8", 8)), (std::vector<uint8_t>{'h', 'e', 'l'})) << "NUL ends the text";
  EXPECT_EQ(DecodeBase64(std::string(340, 'A')).size(), 255u);
  EXPECT_EQ(DecodeBase64(std::string(344, 'A')).size(), 0u) << "258 bytes is too long";
  EXPECT_EQ(DecodeBase64(std::string(344, 'A') + "==").size(), 0u);
  EXPECT_EQ(DecodeBase64(std::string(341, 'A') + "A==").size(), 256u);
  EXPECT_EQ(EncodeBase64("Aladdin:open sesame") + "|" + EncodeBase64("") + "|" + EncodeBase64("a") + "|" +
                EncodeBase64("ab") + "|" + EncodeBase64("ab\xff\xfe\x01\x80"),
            "QWxhZGRpbjpvcGVuIHNlc2FtZQ==||YQ==|YWI=|YWL//gGA");
}

}  // namespace
}  // namespace orbisan
