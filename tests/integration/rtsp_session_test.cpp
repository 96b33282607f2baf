// The session client against the simulated camera: DESCRIBE, SETUP, PLAY and
// TEARDOWN over UDP and interleaved, without authorization, with Basic and
// with Digest (MD5 and SHA-256); RTP packets must arrive in every mode, and a
// wrong password ends the session. The requests byte for byte and the digests
// against independent hashes are the unit tests' (tests/rtsp); GStreamer's
// own server is met through the whole driver in hd_stream_test.cpp.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "rtsp/base_rtsp_client.h"
#include "rtsp/recording_rtsp_user.h"
#include "rtsp/rtp_port_choice.h"
#include "sim/simulated_camera.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

namespace orbisan {
namespace {

using strandline::sim::RtspAuth;

constexpr const char* kUser = "viewer";
constexpr const char* kPassword = "s3cret: pass";

// A simulated camera that asks for the given authorization.
strandline::sim::SimulatedCamera::Options AskingFor(RtspAuth auth) {
  strandline::sim::SimulatedCamera::Options options;
  options.rtsp_auth = auth;
  options.user = kUser;
  options.password = kPassword;
  return options;
}

class UdpPackets : public IRTPReceiverUser, public IRTCPHandlerUser {
 public:
  void RtpPacketArrived(const sockaddr_in&, const CRTPPacket&) override {
    ++count;
    packetReceived.Set();
  }
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  void ByeReceived() override {}
  std::atomic<int> count{0};
  CManualEvent packetReceived;
};

RTSP_SESSION_PARAMS ParamsFor(const strandline::sim::SimulatedCamera& server, const std::string& password) {
  RTSP_SESSION_PARAMS params;
  params.host = "127.0.0.1";
  params.serverPort = server.RtspPort();
  params.path = "/track1";
  params.userName = kUser;
  params.password = password;
  return params;
}

class RtspSessionTest : public ::testing::TestWithParam<RtspAuth> {};

TEST_P(RtspSessionTest, PlaysAndTearsDownOverUdpAndInterleaved) {
  const RtspAuth auth = GetParam();
  strandline::sim::SimulatedCamera server(AskingFor(auth));
  ASSERT_TRUE(server.Start());
  test::TestDriver driver;
  for (const uint32_t transport : {kRtpOverUdp, kRtpInterleaved}) {
    SCOPED_TRACE(transport);
    test::RecordingRtspUser user;
    UdpPackets udp;
    CRTPReceiver receiver(&udp);
    CRTCPHandler rtcp(&udp);
    RTSP_SESSION_PARAMS params = ParamsFor(server, kPassword);
    if (transport == kRtpOverUdp) {
      CManualEvent stop;
      ASSERT_TRUE(ChooseRtpPortPair(receiver, rtcp, htonl(INADDR_LOOPBACK), stop, udp.packetReceived, 50));
      params.clientRtpPort = receiver.GetPort();
      params.clientRtcpPort = rtcp.GetPort();
    }

    CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(params, &user, transport));
    ASSERT_TRUE(user.WaitForEvent("sdp", 20000));
    EXPECT_EQ(user.Sdp().video.encoding, "H264/90000");
    EXPECT_FALSE(user.Sdp().sps.empty());
    if (transport == kRtpOverUdp) {
      EXPECT_TRUE(test::WaitUntil([&] { return udp.count.load() >= 20; }, std::chrono::seconds(20))) << "RTP over UDP";
    } else {
      EXPECT_TRUE(user.WaitForPackets(20, 20000)) << "RTP interleaved";
    }
    client.Stop();
    // Whether the TEARDOWN answer comes within the stop's short receive
    // time-out depends on the load (a sanitizer slows the simulated camera
    // down a lot); the end of the session is what must hold.
    EXPECT_FALSE(client.IsConnected());
    receiver.Stop();
    rtcp.Stop();
    EXPECT_TRUE(user.WaitForEvent("closed", 5000));
    for (const std::string& e : user.Events()) EXPECT_NE(e, "describe-failed");
  }

  // A wrong password ends the session without media.
  if (auth != RtspAuth::kDigestSha256) return;
  test::RecordingRtspUser refused;
  CBaseRTSPClient wrong(&driver);
  ASSERT_TRUE(wrong.Start(ParamsFor(server, "wrong"), &refused, kRtpInterleaved));
  ASSERT_TRUE(refused.WaitForEvent("closed", 20000));
  wrong.Stop();
  EXPECT_EQ(refused.Events(), std::vector<std::string>{"closed"});
  EXPECT_TRUE(refused.Packets().empty());
}

std::string AuthName(const ::testing::TestParamInfo<RtspAuth>& info) {
  const char* const auths[] = {"None", "Basic", "Digest", "DigestSha256"};
  return auths[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Auth, RtspSessionTest,
                         ::testing::Values(RtspAuth::kNone, RtspAuth::kBasic, RtspAuth::kDigest,
                                           RtspAuth::kDigestSha256),
                         AuthName);

}  // namespace
}  // namespace orbisan
