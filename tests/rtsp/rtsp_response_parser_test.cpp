#include "rtsp/rtsp_response_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace orbisan {
namespace {

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(STRANDLINE_TEST_DATA_DIR) + "/rtsp/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Answer(const std::string& headers, int status = 200) {
  return "RTSP/1.0 " + std::to_string(status) + " Whatever\r\n" + headers + "\r\n";
}

// A 401 answer to DESCRIBE with these headers.
bool ParseChallenge(CRTSPResponseParser& parser, const std::string& headers) {
  return parser.Parse(Answer(headers, 401), kRtspDescribe);
}

TEST(RtspResponseParserTest, StatusLineAndCSeqCheck) {
  CRTSPResponseParser parser;
  parser.NextCSeq();
  EXPECT_TRUE(parser.Parse(Answer("CSeq: 1\r\n"), kRtspOptions));
  EXPECT_EQ(parser.GetProtocolVersion(), "RTSP/1.0");
  EXPECT_EQ(parser.GetStatusCode(), 200u);
  EXPECT_FALSE(parser.Parse(Answer("CSeq: 1\r\n", 454), kRtspOptions));
  EXPECT_EQ(parser.GetStatusCode(), 454u) << "a refused status stays recorded";
  EXPECT_FALSE(parser.Parse("RTSP/1.0\r\n\r\n", kRtspOptions));
  EXPECT_FALSE(parser.Parse("", kRtspOptions));
  EXPECT_TRUE(parser.Parse(Answer("", 401), kRtspOptions));
  // The answer's CSeq is checked against the request's, never taken over.
  EXPECT_FALSE(parser.Parse(Answer("CSeq: 7\r\n"), kRtspOptions));
  EXPECT_EQ(parser.GetCSeq(), 1u);
  EXPECT_EQ(parser.NextCSeq(), 2u);
  uint32_t cseq = 0;
  EXPECT_TRUE(CRTSPResponseParser::ReadCSeq(Answer("X: 1\r\ncseq:12\r\n"), cseq));
  EXPECT_EQ(cseq, 12u);
  EXPECT_FALSE(CRTSPResponseParser::ReadCSeq(Answer("X: 1\r\n") + "CSeq: 3\r\n", cseq)) << "body is no header";
}

TEST(RtspResponseParserTest, HeaderVariants) {
  CRTSPResponseParser parser;
  parser.NextCSeq();
  EXPECT_FALSE(parser.Parse(Answer("CSeq: x\r\n"), kRtspOptions)) << "CSeq that does not read";
  EXPECT_FALSE(parser.Parse(Answer("Content-Length: many\r\n"), kRtspOptions));
  EXPECT_FALSE(parser.Parse(Answer("Content-Length: 4294967296\r\n"), kRtspOptions)) << "beyond the answer cap";
  EXPECT_TRUE(parser.Parse(Answer("cseq: 1\r\nX: 1\r\nA:b\r\n: x\r\nno colon here\r\n"), kRtspOptions))
      << "unknown headers and lines without a name are skipped";

  // Name case, blanks around the colon (or none) and long lines.
  const std::string longServer = "Server: " + std::string(3000, 's') + "\r\n";
  ASSERT_TRUE(
      parser.Parse(Answer(longServer + "CONTENT-BASE:rtsp://Cam.local:554/Live/ \r\ncontent-type :Application/SDP\r\n"
                                       "session:4321;Timeout=20\r\n"),
                   kRtspSetup));
  EXPECT_EQ(parser.GetContentBase(), "rtsp://Cam.local:554/Live/") << "received case, trimmed";
  EXPECT_EQ(parser.GetContentType(), "application/sdp");
  EXPECT_EQ(parser.GetSessionId(), "4321");
  EXPECT_EQ(parser.GetSessionTimeout(), 20u);
  uint64_t length = 0;
  EXPECT_TRUE(CRTSPResponseParser::ReadContentLength(Answer(longServer + "content-length:500\r\n"), length));
  EXPECT_EQ(length, 500u);
  EXPECT_TRUE(CRTSPResponseParser::ReadContentLength(Answer("Content-Length :\t4294967296 \r\n"), length));
  EXPECT_EQ(length, 4294967296u) << "read in full, so that it can be refused";
  EXPECT_FALSE(CRTSPResponseParser::ReadContentLength(Answer("Content-Length: -1\r\n"), length));

  ASSERT_TRUE(parser.Parse(Answer("Content-Base: /relative/\r\n"), kRtspOptions));
  EXPECT_EQ(parser.GetContentBase(), "rtsp://Cam.local:554/Live/") << "without rtsp:// the base is kept";
  // A line break inside a camera text would end up in a request line.
  EXPECT_FALSE(parser.Parse(Answer("Session: 12\n34\r\n"), kRtspSetup));
}

TEST(RtspResponseParserTest, SessionHeader) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(parser.Parse(Answer("Session: 1234;timeout=60\r\n"), kRtspSetup));
  EXPECT_EQ(parser.GetSessionId(), "1234");
  EXPECT_EQ(parser.GetSessionTimeout(), 60u);
  ASSERT_TRUE(parser.Parse(Answer("Session:  98765 ; timeout = 0\r\n"), kRtspSetup));
  EXPECT_EQ(parser.GetSessionId(), "98765");
  EXPECT_EQ(parser.GetSessionTimeout(), 30u) << "0 counts as 30 s";
  parser.Reset();
  ASSERT_TRUE(parser.Parse(Answer("Session: ABCDEF\r\n"), kRtspSetup));
  EXPECT_EQ(parser.GetSessionId(), "ABCDEF");
  EXPECT_EQ(parser.GetSessionTimeout(), 0u) << "none given";
  EXPECT_FALSE(parser.Parse(Answer("Session: 1234;foo=bar\r\n"), kRtspSetup)) << "parameters without a timeout";
  EXPECT_FALSE(parser.Parse(Answer("Session: \r\n"), kRtspSetup));
}

TEST(RtspResponseParserTest, Challenges) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(ParseChallenge(parser, "WWW-Authenticate: Digest realm=\"GStreamer Server\", nonce=\"1a2b3c\"\r\n"));
  EXPECT_EQ(parser.GetAuthScheme(), kAuthDigest);
  EXPECT_EQ(parser.GetRealm(), "GStreamer Server");
  EXPECT_EQ(parser.GetNonce(), "1a2b3c");
  // Several challenges: the strongest the client can answer decides,
  // whatever their order; unknown algorithms are passed over.
  ASSERT_TRUE(ParseChallenge(parser,
                             "WWW-Authenticate: Basic realm=\"b\"\r\n"
                             "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
                             "WWW-Authenticate: Digest realm=\"s\", nonce=\"m\", algorithm=SHA-256, "
                             "qop=\"auth-int,auth\", opaque=\"op\"\r\n"
                             "WWW-Authenticate: Digest realm=\"x\", nonce=\"x\", algorithm=SHA-512-256\r\n"
                             "WWW-Authenticate: Basic realm=\"c\"\r\n"));
  EXPECT_EQ(parser.GetAuthScheme(), kAuthDigest);
  EXPECT_EQ(parser.GetDigestAlgorithm(), DigestAlgorithm::kSha256);
  EXPECT_EQ(parser.GetRealm(), "s");
  EXPECT_EQ(parser.GetNonce(), "m");
  EXPECT_EQ(parser.GetOpaque(), "op");
  EXPECT_TRUE(parser.GetQopAuth());
  EXPECT_FALSE(parser.GetStale());
  // The next answer's challenge replaces it even when weaker.
  ASSERT_TRUE(
      ParseChallenge(parser, "WWW-Authenticate: Digest realm=\"r\", nonce=\"n2\", qop=\"auth-int\", stale=TRUE\r\n"));
  EXPECT_EQ(parser.GetDigestAlgorithm(), DigestAlgorithm::kMd5);
  EXPECT_EQ(parser.GetNonce(), "n2");
  EXPECT_TRUE(parser.GetOpaque().empty());
  EXPECT_FALSE(parser.GetQopAuth()) << "auth-int alone is not auth";
  EXPECT_TRUE(parser.GetStale());
  ASSERT_TRUE(ParseChallenge(parser,
                             "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
                             "WWW-Authenticate: Basic realm=\"b\"\r\n"));
  EXPECT_EQ(parser.GetRealm(), "r");
  EXPECT_FALSE(parser.GetStale());
  ASSERT_TRUE(ParseChallenge(parser, "WWW-Authenticate: NTLM\r\n"));
  EXPECT_EQ(parser.GetAuthScheme(), kAuthNone);
  EXPECT_FALSE(ParseChallenge(parser, "WWW-Authenticate: Digest realm=\"r\"\r\n")) << "Digest without a nonce";
  ASSERT_TRUE(ParseChallenge(parser, "Www-Authenticate:digest realm=\"r\", nonce=\"n\"\r\n"));
  EXPECT_EQ(parser.GetAuthScheme(), kAuthDigest);
  EXPECT_EQ(parser.GetNonce(), "n");
}

TEST(RtspResponseParserTest, DescribeBody) {
  CRTSPResponseParser parser;
  parser.NextCSeq();
  ASSERT_TRUE(parser.Parse(ReadData("gst_describe_h264.txt"), kRtspDescribe));
  EXPECT_EQ(parser.GetContentLength(), 526u);
  EXPECT_EQ(parser.GetSessionInfo().video.encoding, "H264/90000");
  EXPECT_EQ(parser.GetSessionInfo().video.control, "stream=0");
  EXPECT_NE(parser.GetContentBase().find("rtsp://127.0.0.1:"), std::string::npos);

  // A broken description fails the DESCRIBE.
  const std::string bad = "m=video 0 RTP/AVP 96\r\na=fmtp:96 nothing-useful\r\n";
  EXPECT_FALSE(parser.Parse(Answer("Content-Length: " + std::to_string(bad.size()) + "\r\n") + bad, kRtspDescribe));
  // No length: no description, still a good answer.
  ASSERT_TRUE(parser.Parse(Answer("CSeq: 1\r\n"), kRtspDescribe));
  // A 401 page is not a description.
  EXPECT_TRUE(parser.Parse(Answer("Content-Length: 11\r\n", 401) + "<html></ht", kRtspDescribe));
}

}  // namespace
}  // namespace orbisan
