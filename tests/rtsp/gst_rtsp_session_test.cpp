// Sessions against GStreamer's RTSP server: DESCRIBE, SETUP, PLAY and
// TEARDOWN over UDP and interleaved, without authorization, with Basic and
// with Digest; RTP packets must arrive in both modes.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gst_rtsp_server_process.h"
#include "recording_rtsp_user.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtp_port_choice.h"
#include "support/test_driver.h"

namespace orbisan {
namespace {

using namespace std::chrono_literals;

#ifdef STRANDLINE_RTSP_TEST_SERVER

constexpr const char* kLaunch =
    "( videotestsrc is-live=true ! video/x-raw,width=160,height=120,framerate=15/1 ! "
    "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 ! rtph264pay name=pay0 pt=96 )";

class UdpPackets : public IRTPReceiverUser, public IRTCPHandlerUser {
 public:
  void RtpPacketArrived(const sockaddr_in&, const CRTPPacket& packet) override {
    if (packet.GetPayloadType() == 96) ++count;
    packetReceived.Set();
  }
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  void ByeReceived() override {}
  std::atomic<int> count{0};
  CManualEvent packetReceived;
};

struct Mode {
  const char* auth;
  uint32_t transport;
};

class GstSessionTest : public ::testing::TestWithParam<Mode> {};

TEST_P(GstSessionTest, PlaysAndTearsDown) {
  const Mode mode = GetParam();
  test::GstRtspServerProcess server(STRANDLINE_RTSP_TEST_SERVER, {"--auth", mode.auth, "--user", "viewer", "--password",
                                                                  "s3cret pass", "--mount", "/cam", kLaunch});
  ASSERT_NE(server.port(), 0) << "GStreamer RTSP server did not start";

  test::TestDriver driver;
  test::RecordingRtspUser user;
  UdpPackets udp;
  CRTPReceiver receiver(&udp);
  CRTCPHandler rtcp(&udp);
  RTSP_SESSION_PARAMS params;
  params.host = "127.0.0.1";
  params.serverPort = server.port();
  params.path = "/cam";
  params.userName = "viewer";
  params.password = "s3cret pass";
  if (mode.transport == kRtpOverUdp) {
    CManualEvent stop;
    ASSERT_TRUE(ChooseRtpPortPair(receiver, rtcp, htonl(INADDR_LOOPBACK), stop, udp.packetReceived, 50));
    params.clientRtpPort = receiver.GetPort();
    params.clientRtcpPort = rtcp.GetPort();
  }

  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(params, &user, mode.transport));
  ASSERT_TRUE(user.WaitForEvent("sdp", 15000));
  EXPECT_EQ(user.Sdp().video.encoding, "H264/90000");
  EXPECT_FALSE(user.Sdp().sps.empty());
  if (mode.transport == kRtpOverUdp) {
    for (int i = 0; i < 500 && udp.count.load() < 20; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_GE(udp.count.load(), 20) << "RTP over UDP";
  } else {
    EXPECT_TRUE(user.WaitForPackets(20, 10000)) << "RTP interleaved";
  }
  client.Stop();
  EXPECT_TRUE(client.GetLastExchangeResult()) << "TEARDOWN answered";
  receiver.Stop();
  rtcp.Stop();
  EXPECT_TRUE(user.WaitForEvent("closed", 1000));
  for (const std::string& e : user.Events()) EXPECT_NE(e, "describe-failed");
}

INSTANTIATE_TEST_SUITE_P(AuthAndTransport, GstSessionTest,
                         ::testing::Values(Mode{"none", kRtpOverUdp}, Mode{"none", kRtpInterleaved},
                                           Mode{"basic", kRtpOverUdp}, Mode{"basic", kRtpInterleaved},
                                           Mode{"digest", kRtpOverUdp}, Mode{"digest", kRtpInterleaved}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return std::string(info.param.auth) +
                                  (info.param.transport == kRtpOverUdp ? "Udp" : "Interleaved");
                         });

TEST(GstSessionAuthTest, WrongPasswordEndsTheSession) {
  test::GstRtspServerProcess server(STRANDLINE_RTSP_TEST_SERVER, {"--auth", "digest", "--user", "viewer", "--password",
                                                                  "right", "--mount", "/cam", kLaunch});
  ASSERT_NE(server.port(), 0);
  test::TestDriver driver;
  test::RecordingRtspUser user;
  RTSP_SESSION_PARAMS params;
  params.host = "127.0.0.1";
  params.serverPort = server.port();
  params.path = "/cam";
  params.userName = "viewer";
  params.password = "wrong";
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(params, &user, kRtpInterleaved));
  ASSERT_TRUE(user.WaitForEvent("closed", 15000));
  client.Stop();
  EXPECT_EQ(user.Events(), std::vector<std::string>{"closed"});
}

#endif

}  // namespace
}  // namespace orbisan
