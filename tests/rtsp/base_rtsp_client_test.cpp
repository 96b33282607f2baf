#include "rtsp/base_rtsp_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "recording_rtsp_user.h"
#include "rtp_test_util.h"
#include "rtsp/base64.h"
#include "runtime/time_utils.h"
#include "scripted_rtsp_server.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"

namespace orbisan {
namespace {

using namespace std::chrono_literals;
using test::CSeqOf;
using test::Method;
using test::RecordingRtspUser;
using test::ScriptedRtspServer;

std::string Sdp(const std::string& control) {
  return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\n"
         "a=rtpmap:96 H264/90000\r\na=control:" +
         control + "\r\n";
}

std::string Ok(const std::string& request, const std::string& extra = "", const std::string& body = "") {
  std::string answer = "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(request) + "\r\n" + extra;
  if (!body.empty())
    answer += "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  return answer + "\r\n" + body;
}

// A camera that answers every request well. DESCRIBE gives the content base
// and control chosen by the test; SETUP gives Session 1234 with the given
// session parameter text.
struct CameraScript {
  std::string contentBase;  // empty: none
  std::string control = "trackID=1";
  std::string sessionSuffix = ";timeout=60";
  std::string transport = "Transport: RTP/AVP/UDP;unicast;client_port=5000-5001;server_port=6000-6001\r\n";

  std::string operator()(const std::string& request, size_t) const {
    const std::string method = Method(request);
    if (method == "DESCRIBE") {
      const std::string base = contentBase.empty() ? "" : "Content-Base: " + contentBase + "\r\n";
      return Ok(request, base, Sdp(control));
    }
    if (method == "SETUP") return Ok(request, "Session: 1234" + sessionSuffix + "\r\n" + transport);
    return Ok(request, "Session: 1234\r\n");
  }
};

RTSP_SESSION_PARAMS Params(uint16_t port) {
  RTSP_SESSION_PARAMS params;
  params.host = "127.0.0.1";
  params.serverPort = port;
  params.path = "/live";
  params.clientRtpPort = 5000;
  params.clientRtcpPort = 5001;
  return params;
}

class RtspClientTest : public ::testing::Test {
 protected:
  // Starts a client with these credentials, lets it send `requests` requests
  // over UDP, stops it and returns what the server received.
  std::vector<std::string> RequestsWithCredentials(ScriptedRtspServer& server, const char* user, const char* password,
                                                   size_t requests) {
    RTSP_SESSION_PARAMS params = Params(server.port());
    params.userName = user;
    params.password = password;
    CBaseRTSPClient client(&driver_);
    client.SetIdleWaitMs(600000);
    EXPECT_TRUE(client.Start(params, &user_, kRtpOverUdp));
    EXPECT_TRUE(server.WaitForRequests(requests));
    client.Stop();
    return server.Requests();
  }

  test::TestDriver driver_;
  RecordingRtspUser user_;
};

TEST_F(RtspClientTest, SixRequestsByteForByte) {
  ScriptedRtspServer server([](const std::string& r, size_t i) {
    CameraScript script;
    return script(r, i);
  });
  const std::string port = std::to_string(server.port());
  const std::string base = "rtsp://127.0.0.1:" + port + "/live";
  // Content base takes over from the first answer on; this camera sends none.
  CBaseRTSPClient client(&driver_);
  client.SetIdleWaitMs(600000);  // no keep-alive of its own in this test
  ASSERT_TRUE(client.Start(Params(server.port()), &user_, kRtpOverUdp));
  ASSERT_TRUE(server.WaitForRequests(3));  // DESCRIBE, SETUP, PLAY
  client.RequestPause();
  ASSERT_TRUE(server.WaitForRequests(4));
  client.RequestPlay();
  ASSERT_TRUE(server.WaitForRequests(5));
  EXPECT_TRUE(client.SendKeepAlive());
  client.Stop();
  ASSERT_TRUE(server.WaitForRequests(7));
  EXPECT_TRUE(client.GetLastExchangeResult()) << "TEARDOWN answered";

  const std::vector<std::string> r = server.Requests();
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[0],
            "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Orbisan\r\nAccept: application/sdp\r\n\r\n");
  EXPECT_EQ(r[1], "SETUP " + base +
                      "/trackID=1 RTSP/1.0\r\nCSeq: 2\r\nUser-Agent: Orbisan\r\n"
                      "Transport: RTP/AVP/UDP;unicast;client_port=5000-5001\r\n\r\n");
  EXPECT_EQ(r[2], "PLAY " + base +
                      " RTSP/1.0\r\nCSeq: 3\r\nUser-Agent: Orbisan\r\nSession: 1234\r\nRange: npt=0.000-\r\n\r\n");
  EXPECT_EQ(r[3], "PAUSE " + base +
                      " RTSP/1.0\r\nCSeq: 4\r\nUser-Agent: Orbisan\r\nSession: 1234\r\nRange: npt=0.000-\r\n\r\n");
  EXPECT_EQ(r[4], "PLAY " + base +
                      " RTSP/1.0\r\nCSeq: 5\r\nUser-Agent: Orbisan\r\nSession: 1234\r\nRange: npt=0.000-\r\n\r\n");
  EXPECT_EQ(r[5], "OPTIONS " + base + " RTSP/1.0\r\nCSeq: 6\r\nUser-Agent: Orbisan\r\nSession: 1234\r\n\r\n");
  EXPECT_EQ(r[6], "TEARDOWN " + base + " RTSP/1.0\r\nCSeq: 7\r\nUser-Agent: Orbisan\r\nSession: 1234\r\n\r\n");
  ASSERT_TRUE(user_.WaitForEvent("closed"));
  EXPECT_EQ(user_.Events(), (std::vector<std::string>{"sdp", "closed"}));
  EXPECT_EQ(user_.Sdp().video.encoding, "H264/90000");
}

// Runs a session until SETUP and returns the SETUP request.
std::string SetupRequest(test::TestDriver& driver, CameraScript script, RTSP_SESSION_PARAMS params,
                         uint32_t mode = kRtpOverUdp, bool multicast = false) {
  ScriptedRtspServer server([&script](const std::string& r, size_t i) { return script(r, i); });
  RecordingRtspUser user;
  CBaseRTSPClient client(&driver);
  client.SetIdleWaitMs(600000);
  params.serverPort = server.port();
  const bool started = multicast ? client.StartMulticast(params, &user) : client.Start(params, &user, mode);
  if (!started || !server.WaitForRequests(2)) return {};
  client.Stop();
  return server.Requests()[1];
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find("\r\n")); }

TEST_F(RtspClientTest, TrackUrlRules) {
  CameraScript script;
  script.contentBase = "rtsp://10.1.1.1:7070/cam/";
  EXPECT_EQ(FirstLine(SetupRequest(driver_, script, Params(0))), "SETUP rtsp://10.1.1.1:7070/cam/trackID=1 RTSP/1.0");
  script.control = "/trackID=1";
  EXPECT_EQ(FirstLine(SetupRequest(driver_, script, Params(0))), "SETUP rtsp://10.1.1.1:7070/cam/trackID=1 RTSP/1.0");
  script.contentBase = "rtsp://10.1.1.1:7070/cam";
  script.control = "trackID=1";
  EXPECT_EQ(FirstLine(SetupRequest(driver_, script, Params(0))), "SETUP rtsp://10.1.1.1:7070/cam/trackID=1 RTSP/1.0");
  script.control = "rtsp://10.9.9.9/other/track";
  EXPECT_EQ(FirstLine(SetupRequest(driver_, script, Params(0))), "SETUP rtsp://10.9.9.9/other/track RTSP/1.0");
  // A content base without "rtsp://" is not kept: the URL is built from host, port and track form.
  script.contentBase = "/relative/";
  script.control = "stream=0";
  RTSP_SESSION_PARAMS params = Params(0);
  params.urlForm = 1;
  params.trackIndex = 2;
  const std::string setup = SetupRequest(driver_, script, params);
  EXPECT_NE(FirstLine(setup).find("/track3/stream=0 RTSP/1.0"), std::string::npos) << setup;
}

TEST_F(RtspClientTest, TransportHeaderPerModeAndBlockSize) {
  CameraScript script;
  RTSP_SESSION_PARAMS params = Params(0);
  params.blockSize = 100;
  std::string setup = SetupRequest(driver_, script, params);
  EXPECT_NE(setup.find("Transport: RTP/AVP/UDP;unicast;client_port=5000-5001\r\n\r\n"), std::string::npos) << setup;
  EXPECT_EQ(setup.find("Blocksize"), std::string::npos);

  params.blockSize = 101;
  setup = SetupRequest(driver_, script, params, kRtpOverTcp);
  EXPECT_NE(setup.find("Transport: RTP/AVP/TCP;unicast;client_port=5000-5001\r\nBlocksize: 101\r\n\r\n"),
            std::string::npos)
      << setup;

  params.blockSize = 0;
  setup = SetupRequest(driver_, script, params, kRtpInterleaved);
  EXPECT_NE(setup.find("Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), std::string::npos) << setup;

  setup = SetupRequest(driver_, script, params, kRtpOverUdp, true);
  EXPECT_NE(setup.find("Transport: RTP/AVP/UDP;multicast;client_port=0-1\r\n"), std::string::npos) << setup;
}

// A channel reuses its client when the streaming mode changes between runs:
// a unicast start after a multicast one asks for unicast again, and keeps
// its session alive again (a multicast session sends no keep-alive).
TEST_F(RtspClientTest, UnicastStartAfterMulticastOnTheSameClient) {
  CameraScript script;
  ScriptedRtspServer server([&script](const std::string& r, size_t i) { return script(r, i); });
  RecordingRtspUser user;
  CBaseRTSPClient client(&driver_);
  client.SetIdleWaitMs(10);
  RTSP_SESSION_PARAMS params = Params(0);
  params.serverPort = server.port();
  ASSERT_TRUE(client.StartMulticast(params, &user));
  ASSERT_TRUE(server.WaitForRequests(3));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // idle checks every 10 ms: none may send
  client.Stop();
  ASSERT_TRUE(client.Start(params, &user, kRtpOverUdp));
  // Wait for the second SETUP itself rather than for a request count.
  std::vector<std::string> requests;
  std::string secondSetup;
  size_t setupIndex = 0;
  for (int attempt = 0; attempt < 250 && secondSetup.empty(); ++attempt) {
    requests = server.Requests();
    for (size_t i = 3; i < requests.size(); ++i) {
      if (requests[i].rfind("SETUP ", 0) == 0) {
        secondSetup = requests[i];
        setupIndex = i;
      }
    }
    if (secondSetup.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(server.WaitForRequests(setupIndex + 3)) << "PLAY and the first keep-alive";
  client.Stop();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_NE(requests[1].find(";multicast;"), std::string::npos) << requests[1];
  const std::vector<std::string> all = server.Requests();
  bool optionsInMulticast = false;
  bool optionsInUnicast = false;
  bool unicast = false;
  for (size_t i = 0; i < all.size(); ++i) {
    unicast = unicast || all[i] == secondSetup;
    if (Method(all[i]) == "OPTIONS") (unicast ? optionsInUnicast : optionsInMulticast) = true;
  }
  EXPECT_FALSE(optionsInMulticast);
  EXPECT_TRUE(optionsInUnicast);
  EXPECT_NE(secondSetup.find("Transport: RTP/AVP/UDP;unicast;client_port=5000-5001\r\n"), std::string::npos)
      << secondSetup;
}

// An independent MD5: coreutils' md5sum.
std::string SystemMd5(const std::string& text) {
  test::ScratchDir dir;
  dir.Write("md5_input", text);
  return test::RunCommand({"md5sum", dir.File("md5_input")}).out.substr(0, 32);
}

TEST_F(RtspClientTest, DigestRetryUsesTheBaseUrl) {
  const std::string nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
  ScriptedRtspServer server([&](const std::string& r, size_t i) {
    if (i == 0) {
      return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(r) +
             "\r\nWWW-Authenticate: Digest realm=\"testrealm@host.com\", nonce=\"" + nonce + "\"\r\n\r\n";
    }
    return CameraScript()(r, i);
  });
  const std::vector<std::string> r = RequestsWithCredentials(server, "Mufasa", "Circle Of Life", 3);
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(CSeqOf(r[1]), "2") << "the retry takes the next CSeq";
  const std::string uri = "rtsp://127.0.0.1:" + std::to_string(server.port()) + "/live";
  const std::string ha1 = SystemMd5("Mufasa:testrealm@host.com:Circle Of Life");
  ASSERT_EQ(ha1.size(), 32u) << "md5sum not available";
  const std::string describe = SystemMd5(SystemMd5("Mufasa:testrealm@host.com:Circle Of Life") + ":" + nonce + ":" +
                                         SystemMd5("DESCRIBE:" + uri));
  EXPECT_EQ(r[1], "DESCRIBE " + uri + " RTSP/1.0\r\nCSeq: 2\r\nAuthorization: Digest username=\"Mufasa\", " +
                      "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"" +
                      describe + "\"\r\nUser-Agent: Orbisan\r\nAccept: application/sdp\r\n\r\n");
  // SETUP signs the base URL too, not the track URL.
  const std::string setup = SystemMd5(ha1 + ":" + nonce + ":" + SystemMd5("SETUP:" + uri));
  EXPECT_NE(r[2].find("uri=\"" + uri + "\", response=\"" + setup + "\""), std::string::npos) << r[2];
}

// The value of name="value" or name=value in an Authorization header.
std::string AuthParam(const std::string& request, const std::string& name) {
  const size_t at = request.find(" " + name + "=");
  if (at == std::string::npos) return {};
  size_t start = at + name.size() + 2;
  const bool quoted = request[start] == '"';
  if (quoted) ++start;
  return request.substr(start, request.find_first_of(quoted ? "\"" : ",\r", start) - start);
}

TEST_F(RtspClientTest, Sha256DigestWithQopAndStaleNonce) {
  const std::string challenge = "WWW-Authenticate: Basic realm=\"cam\"\r\nWWW-Authenticate: Digest realm=\"cam\", ";
  ScriptedRtspServer server([&](const std::string& r, size_t i) {
    if (i == 0 || i == 2) {
      const std::string nonce = i == 0 ? "n1\"" : "n2\", stale=true";
      return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(r) + "\r\n" + challenge + "nonce=\"" + nonce +
             ", algorithm=SHA-256, qop=\"auth\", opaque=\"xyz\"\r\n\r\n";
    }
    return CameraScript()(r, i);
  });
  const std::vector<std::string> r = RequestsWithCredentials(server, "admin", "secret", 5);
  ASSERT_GE(r.size(), 5u);
  const std::string uri = "rtsp://127.0.0.1:" + std::to_string(server.port()) + "/live";
  const std::string ha1 = Sha256Hex("admin:cam:secret");
  // DESCRIBE answered, SETUP refused as stale, SETUP again with the new nonce.
  const std::vector<std::pair<size_t, std::string>> signed_requests = {
      {1, "n1:00000001"}, {2, "n1:00000002"}, {3, "n2:00000001"}};
  for (const auto& [index, nonceAndCount] : signed_requests) {
    const std::string& request = r[index];
    const std::string method = Method(request);
    EXPECT_EQ(method, index == 1 ? "DESCRIBE" : "SETUP");
    EXPECT_EQ(AuthParam(request, "algorithm"), "SHA-256");
    EXPECT_EQ(AuthParam(request, "qop"), "auth");
    EXPECT_EQ(AuthParam(request, "opaque"), "xyz");
    EXPECT_EQ(AuthParam(request, "nonce") + ":" + AuthParam(request, "nc"), nonceAndCount);
    const std::string cnonce = AuthParam(request, "cnonce");
    EXPECT_EQ(cnonce.size(), 32u);
    EXPECT_EQ(AuthParam(request, "response"),
              Sha256Hex(ha1 + ":" + nonceAndCount + ":" + cnonce + ":auth:" + Sha256Hex(method + ":" + uri)))
        << request;
  }
  EXPECT_EQ(Method(r[4]), "PLAY");
}

TEST_F(RtspClientTest, BasicAfterChallengeAndSecond401EndsSession) {
  ScriptedRtspServer basic([&](const std::string& r, size_t i) {
    if (i == 0)
      return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(r) + "\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
    return CameraScript()(r, i);
  });
  RTSP_SESSION_PARAMS params = Params(basic.port());
  params.userName = "admin";
  params.password = "secret";
  {
    CBaseRTSPClient client(&driver_);
    client.SetIdleWaitMs(600000);
    ASSERT_TRUE(client.Start(params, &user_, kRtpOverUdp));
    ASSERT_TRUE(basic.WaitForRequests(3));
    client.Stop();
    EXPECT_NE(basic.Requests()[1].find("Authorization: Basic " + EncodeBase64("admin:secret") + "\r\n"),
              std::string::npos);
  }

  ScriptedRtspServer refusing([&](const std::string& r, size_t) {
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(r) +
           "\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n\r\n";
  });
  RecordingRtspUser user;
  CBaseRTSPClient client(&driver_);
  params.serverPort = refusing.port();
  ASSERT_TRUE(client.Start(params, &user, kRtpOverUdp));
  ASSERT_TRUE(user.WaitForEvent("closed"));
  client.Stop();
  EXPECT_EQ(refusing.Requests().size(), 2u) << "one retry, no SETUP, no TEARDOWN";
  EXPECT_EQ(user.Events(), std::vector<std::string>{"closed"});
}

TEST_F(RtspClientTest, Status454FailsDescribe) {
  ScriptedRtspServer server(
      [](const std::string& r, size_t) { return "RTSP/1.0 454 Session Not Found\r\nCSeq: " + CSeqOf(r) + "\r\n\r\n"; });
  CBaseRTSPClient client(&driver_);
  ASSERT_TRUE(client.Start(Params(server.port()), &user_, kRtpOverUdp));
  ASSERT_TRUE(user_.WaitForEvent("closed"));
  client.Stop();
  EXPECT_EQ(user_.Events(), (std::vector<std::string>{"describe-failed", "closed"}));
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_FALSE(client.GetLastExchangeResult());
}

TEST_F(RtspClientTest, DeclinedDescriptionIsTornDown) {
  ScriptedRtspServer server([](const std::string& r, size_t i) { return CameraScript()(r, i); });
  user_.acceptSdp = false;
  CBaseRTSPClient client(&driver_);
  ASSERT_TRUE(client.Start(Params(server.port()), &user_, kRtpOverUdp));
  ASSERT_TRUE(user_.WaitForEvent("closed"));
  client.Stop();
  const std::vector<std::string> r = server.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(Method(r[1]), "TEARDOWN");
}

// Long header blocks are read whole; answers larger than the cap, a
// Content-Length of 4 GB, or an answer trickling in cannot hold the session
// or its stop, nor fill memory.
TEST_F(RtspClientTest, AnswersAreBoundedInSizeAndTime) {
  {
    ScriptedRtspServer server([](const std::string& r, size_t i) {
      if (i > 0) return CameraScript()(r, i);
      std::string filler;
      for (int k = 0; k < 12; ++k) filler += "X-Filler-" + std::to_string(k) + ": " + std::string(400, 'x') + "\r\n";
      return Ok(r, filler, Sdp("trackID=1"));
    });
    RecordingRtspUser user;
    CBaseRTSPClient client(&driver_);
    client.SetIdleWaitMs(600000);
    ASSERT_TRUE(client.Start(Params(server.port()), &user, kRtpOverUdp));
    ASSERT_TRUE(user.WaitForEvent("sdp"));
    client.Stop();
    EXPECT_EQ(user.Sdp().video.encoding, "H264/90000") << "description behind a 5 KB header block";
  }
  {
    // Headers claiming 4 GB, then body data for as long as the client reads.
    ScriptedRtspServer server([](const std::string& r, size_t) {
      return "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(r) + "\r\nContent-Length: 4294967295\r\n\r\n" +
             std::string(1 << 20, 'v');
    });
    RecordingRtspUser user;
    CBaseRTSPClient client(&driver_);
    RTSP_SESSION_PARAMS params = Params(server.port());
    params.receiveTimeoutMs = 30000;
    ASSERT_TRUE(client.Start(params, &user, kRtpOverUdp));
    EXPECT_TRUE(user.WaitForEvent("describe-failed", 10000)) << "refused at its header";
    client.Stop();
  }
  {
    // One byte every 50 ms, a header block without end.
    ScriptedRtspServer server([](const std::string& r, size_t) {
      return "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(r) + "\r\nX-Slow: " + std::string(100000, 's');
    });
    server.SetTrickleMs(50);
    RecordingRtspUser user;
    CBaseRTSPClient client(&driver_);
    RTSP_SESSION_PARAMS params = Params(server.port());
    params.receiveTimeoutMs = 30000;
    ASSERT_TRUE(client.Start(params, &user, kRtpOverUdp));
    ASSERT_TRUE(server.WaitForRequests(1));
    std::this_thread::sleep_for(300ms);  // some bytes have trickled in
    const auto before = std::chrono::steady_clock::now();
    client.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s) << "the stop does not wait for the answer";
    EXPECT_TRUE(user.WaitForEvent("closed", 1000));
  }
}

// A late answer to an earlier request is passed over; an answer with a CSeq
// the client never sent fails the request instead of steering the counter.
TEST_F(RtspClientTest, AnswerCSeqIsChecked) {
  ScriptedRtspServer server([](const std::string& r, size_t i) {
    if (Method(r) == "DESCRIBE") return "RTSP/1.0 200 OK\r\nCSeq: 0\r\n\r\n" + CameraScript()(r, i);
    if (Method(r) == "SETUP") return std::string("RTSP/1.0 200 OK\r\nCSeq: 99\r\nSession: 1\r\n\r\n");
    return CameraScript()(r, i);
  });
  CBaseRTSPClient client(&driver_);
  client.SetIdleWaitMs(600000);
  ASSERT_TRUE(client.Start(Params(server.port()), &user_, kRtpOverUdp));
  ASSERT_TRUE(user_.WaitForEvent("closed"));
  client.Stop();
  const std::vector<std::string> r = server.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(user_.Sdp().video.encoding, "H264/90000") << "the DESCRIBE answer behind the stale one";
  EXPECT_EQ(Method(r[2]), "TEARDOWN") << "SETUP failed on the foreign CSeq";
  EXPECT_EQ(CSeqOf(r[2]), "3");
}

// Credentials and camera texts that would break a request line or header
// are refused before anything is sent.
TEST_F(RtspClientTest, LineBreaksNeverReachARequest) {
  ScriptedRtspServer server([](const std::string& r, size_t i) { return CameraScript()(r, i); });
  for (const std::string user : {"admin\r\nX-Evil: 1", "ad\"min", "admin\n"}) {
    RTSP_SESSION_PARAMS params = Params(server.port());
    params.userName = user;
    params.password = "secret";
    CBaseRTSPClient client(&driver_);
    EXPECT_FALSE(client.Start(params, &user_, kRtpOverUdp));
  }
  RTSP_SESSION_PARAMS params = Params(server.port());
  params.password = "pass\rword";
  CBaseRTSPClient client(&driver_);
  EXPECT_FALSE(client.Start(params, &user_, kRtpOverUdp));
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(server.Requests().empty());
  bool logged = false;
  for (const test::LogLine& line : driver_.Lines()) {
    logged = logged || (line.level == kLogError && line.text.find("Authorization") != std::string::npos);
  }
  EXPECT_TRUE(logged);

  // A content base with a lone line break fails DESCRIBE; nothing follows.
  CameraScript script;
  script.contentBase = "rtsp://127.0.0.1/x\rX-Evil: 1";
  ScriptedRtspServer camera([&script](const std::string& r, size_t i) { return script(r, i); });
  RecordingRtspUser user;
  CBaseRTSPClient second(&driver_);
  ASSERT_TRUE(second.Start(Params(camera.port()), &user, kRtpOverUdp));
  ASSERT_TRUE(user.WaitForEvent("closed"));
  second.Stop();
  EXPECT_EQ(camera.Requests().size(), 1u);
  EXPECT_EQ(user.Events(), (std::vector<std::string>{"describe-failed", "closed"}));
}

TEST_F(RtspClientTest, KeepAliveSpacingFollowsSessionTimeout) {
  struct Case {
    std::string sessionSuffix;
    uint32_t periodParam;
    uint64_t spacingSec;
  };
  for (const Case& c : {Case{";timeout=60", 60, 30}, Case{";timeout=0", 60, 15}, Case{"", 60, 30}, Case{"", 8, 4}}) {
    SCOPED_TRACE("session" + c.sessionSuffix + " period " + std::to_string(c.periodParam));
    CameraScript script;
    script.sessionSuffix = c.sessionSuffix;
    ScriptedRtspServer server([&script](const std::string& r, size_t i) { return script(r, i); });
    std::atomic<uint64_t> now{5000000};  // monotonic ms
    RecordingRtspUser user;
    CBaseRTSPClient client(&driver_);
    client.SetClock([&now] { return now.load(); });
    client.SetIdleWaitMs(10);
    RTSP_SESSION_PARAMS params = Params(server.port());
    params.keepAlivePeriodSec = c.periodParam;
    ASSERT_TRUE(client.Start(params, &user, kRtpOverUdp));
    // The first idle check after PLAY sends one OPTIONS at once.
    ASSERT_TRUE(server.WaitForRequests(4));
    EXPECT_EQ(Method(server.Requests()[3]), "OPTIONS");
    const uint64_t second = 1000;
    now += (c.spacingSec - 1) * second;
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(server.Requests().size(), 4u) << "no OPTIONS before half the period";
    now += 2 * second;
    ASSERT_TRUE(server.WaitForRequests(5));
    EXPECT_EQ(Method(server.Requests()[4]), "OPTIONS");
    client.SetKeepAliveEnabled(false);
    now += 10 * c.spacingSec * second;
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(server.Requests().size(), 5u) << "disabled keep-alive sends nothing";
    client.Stop();
  }
}

TEST_F(RtspClientTest, InterleavedChannelFromSetup) {
  CameraScript script;
  script.transport = "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n";
  std::string frames;
  auto frame = [](uint8_t channel, uint16_t sequence) {
    test::RtpFields fields;
    fields.sequence = sequence;
    fields.payload = test::Bytes(300, static_cast<uint8_t>(sequence));
    const std::vector<uint8_t> bytes = test::Interleave(channel, test::BuildRtp(fields));
    return std::string(bytes.begin(), bytes.end());
  };
  frames = frame(0, 100) + frame(2, 1) + frame(3, 200) + frame(2, 2) + frame(1, 300) + frame(2, 3);

  ScriptedRtspServer server([&](const std::string& r, size_t i) {
    if (Method(r) == "PLAY") return Ok(r, "Session: 1234\r\n") + frames;
    return script(r, i);
  });
  CBaseRTSPClient client(&driver_);
  client.SetIdleWaitMs(600000);
  ASSERT_TRUE(client.Start(Params(server.port()), &user_, kRtpInterleaved));
  ASSERT_TRUE(user_.WaitForPackets(3));
  std::this_thread::sleep_for(100ms);
  const auto before = std::chrono::steady_clock::now();
  client.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  std::vector<uint16_t> sequences;
  for (const auto& p : user_.Packets()) sequences.push_back(p.sequence);
  EXPECT_EQ(sequences, (std::vector<uint16_t>{1, 2, 3})) << "only channel 2";
  EXPECT_EQ(Method(server.Requests().back()), "TEARDOWN");
  EXPECT_TRUE(client.GetLastExchangeResult()) << "the answer is found among the RTP data";
}

// A camera that drops sessions without a request for 2 s, streaming over the
// RTSP connection with sender reports on the RTCP channel: the session stays
// up with keep-alives (also across a step of the wall clock), every sender
// report is answered on the RTCP channel, and pause and play go through.
TEST_F(RtspClientTest, InterleavedSessionIsKeptAlive) {
  CameraScript script;
  script.sessionSuffix = ";timeout=2";
  script.transport = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
  ScriptedRtspServer server([&script](const std::string& r, size_t i) { return script(r, i); });
  server.SetSessionTimeoutMs(2500);
  std::atomic<bool> streaming{true};
  CBaseRTSPClient client(&driver_);
  ASSERT_TRUE(client.Start(Params(server.port()), &user_, kRtpInterleaved));
  ASSERT_TRUE(server.WaitForRequests(3));
  std::thread camera([&] {
    for (uint16_t sequence = 1; streaming.load() && sequence < 2000; ++sequence) {
      test::RtpFields fields;
      fields.sequence = sequence;
      fields.payload = test::Bytes(200, static_cast<uint8_t>(sequence));
      std::vector<uint8_t> bytes = test::Interleave(0, test::BuildRtp(fields));
      if (sequence % 25 == 0) {
        // Sender report with "$" and channel bytes inside.
        const std::vector<uint8_t> report = test::Interleave(
            1, {0x80, 200, 0, 6, '$', 0, 0, 0x10, 0, 0, '$', 0, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        bytes.insert(bytes.begin(), report.begin(), report.end());
      }
      server.Send(std::string(bytes.begin(), bytes.end()));
      std::this_thread::sleep_for(20ms);
    }
  });
  ASSERT_TRUE(user_.WaitForPackets(50));
  ShiftWallClockForTesting(-36000000000ll);  // the clock steps back an hour
  std::this_thread::sleep_for(3s);
  client.RequestPause();
  client.RequestPlay();
  std::this_thread::sleep_for(3s);
  const size_t before = user_.Packets().size();
  EXPECT_TRUE(user_.WaitForPackets(before + 20)) << "still streaming";
  streaming.store(false);
  camera.join();
  ShiftWallClockForTesting(36000000000ll);
  client.Stop();

  EXPECT_EQ(server.Drops(), 0) << "the session was never dropped for silence";
  std::vector<std::string> methods;
  for (const std::string& request : server.Requests()) methods.push_back(Method(request));
  EXPECT_GE(std::count(methods.begin(), methods.end(), "OPTIONS"), 5);
  EXPECT_EQ(std::count(methods.begin(), methods.end(), "PAUSE"), 1);
  EXPECT_EQ(std::count(methods.begin(), methods.end(), "PLAY"), 2);
  EXPECT_EQ(methods.back(), "TEARDOWN");
  auto frames = server.Frames();
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(frames.back(), std::make_pair(uint8_t{1}, frames.back().second));
  EXPECT_EQ(static_cast<uint8_t>(frames.back().second[1]), 203) << "goodbye before TEARDOWN";
  frames.pop_back();
  for (const auto& [channel, report] : frames) {
    EXPECT_EQ(channel, 1);
    ASSERT_EQ(report.size(), 32u);
    EXPECT_EQ(static_cast<uint8_t>(report[1]), 201) << "receiver report";
    EXPECT_EQ(report.substr(8, 4), std::string("$\0\0\x10", 4)) << "addressed to the sender's SSRC";
  }
  // No packet lost behind the "$" bytes of the reports.
  const std::vector<test::SeenPacket> packets = user_.Packets();
  for (size_t i = 1; i < packets.size(); ++i) ASSERT_EQ(packets[i].sequence, packets[i - 1].sequence + 1);
}

TEST_F(RtspClientTest, StopReturnsWhenServerNeverAnswers) {
  ScriptedRtspServer server([](const std::string&, size_t) { return ScriptedRtspServer::kSilent; });
  CBaseRTSPClient client(&driver_);
  RTSP_SESSION_PARAMS params = Params(server.port());
  params.receiveTimeoutMs = 30000;  // a blocked receive would last 30 s without the shortening
  ASSERT_TRUE(client.Start(params, &user_, kRtpOverUdp));
  ASSERT_TRUE(server.WaitForRequests(1));
  const auto before = std::chrono::steady_clock::now();
  client.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_TRUE(user_.WaitForEvent("closed", 1000));
}

TEST_F(RtspClientTest, ConnectFailures) {
  CBaseRTSPClient client(&driver_);
  RTSP_SESSION_PARAMS params = Params(1);  // nothing listens on port 1
  EXPECT_FALSE(client.Start(params, &user_, kRtpOverUdp));
  params.host = "no-such-host.invalid";
  EXPECT_FALSE(client.Start(params, &user_, kRtpOverUdp));
  ScriptedRtspServer server([](const std::string& r, size_t i) { return CameraScript()(r, i); });
  params = Params(server.port());
  params.connectTimeoutMs = 99;
  EXPECT_FALSE(client.Start(params, &user_, kRtpOverUdp)) << "a connect time-out below 100 ms cannot succeed";
  EXPECT_FALSE(client.IsConnected());
  EXPECT_TRUE(user_.Events().empty()) << "no callbacks when the start fails";
  params.connectTimeoutMs = 5000;
  ASSERT_TRUE(client.Start(params, &user_, kRtpOverUdp)) << "the client is reusable";
  client.Stop();
}

}  // namespace
}  // namespace orbisan
