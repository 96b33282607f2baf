// The session client against two independent servers (the simulated camera
// and GStreamer's RTSP server): DESCRIBE, SETUP, PLAY and TEARDOWN over UDP
// and interleaved, without authorization, with Basic and with Digest (SHA-256
// on the simulated camera too); RTP
// packets must arrive in every mode, and a wrong password ends the session.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <tuple>

#include "rtsp/base_rtsp_client.h"
#include "rtsp/gst_rtsp_server_process.h"
#include "rtsp/recording_rtsp_user.h"
#include "rtsp/rtp_port_choice.h"
#include "sim/simulated_camera.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

namespace orbisan {
namespace {

using strandline::sim::RtspAuth;

constexpr const char* kLaunch =
    "( videotestsrc is-live=true ! video/x-raw,width=160,height=120,framerate=15/1 ! "
    "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 ! rtph264pay name=pay0 pt=96 )";
constexpr const char* kUser = "viewer";
constexpr const char* kPassword = "s3cret: pass";

enum class Server { kSim, kGst };

// One running server of either kind that asks for the given authorization.
class AnyServer {
 public:
  AnyServer(Server kind, RtspAuth auth, const std::string& password) {
    if (kind == Server::kGst) {
      const char* name = auth == RtspAuth::kNone ? "none" : auth == RtspAuth::kBasic ? "basic" : "digest";
      gst_ = std::make_unique<test::GstRtspServerProcess>(
          STRANDLINE_RTSP_TEST_SERVER, std::vector<std::string>{"--auth", name, "--user", kUser, "--password", password,
                                                                "--mount", "/cam", kLaunch});
      port_ = gst_->port();
      path_ = "/cam";
      return;
    }
    strandline::sim::SimulatedCamera::Options options;
    options.rtsp_auth = auth;
    options.user = kUser;
    options.password = password;
    sim_ = std::make_unique<strandline::sim::SimulatedCamera>(options);
    if (sim_->Start()) port_ = sim_->RtspPort();
    path_ = "/track1";
  }
  uint16_t port() const { return port_; }
  const std::string& path() const { return path_; }

 private:
  std::unique_ptr<test::GstRtspServerProcess> gst_;
  std::unique_ptr<strandline::sim::SimulatedCamera> sim_;
  uint16_t port_ = 0;
  std::string path_;
};

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

RTSP_SESSION_PARAMS ParamsFor(const AnyServer& server, const std::string& password) {
  RTSP_SESSION_PARAMS params;
  params.host = "127.0.0.1";
  params.serverPort = server.port();
  params.path = server.path();
  params.userName = kUser;
  params.password = password;
  return params;
}

using Mode = std::tuple<Server, RtspAuth, uint32_t>;

class RtspSessionTest : public ::testing::TestWithParam<Mode> {};

TEST_P(RtspSessionTest, PlaysAndTearsDown) {
  const auto [kind, auth, transport] = GetParam();
  AnyServer server(kind, auth, kPassword);
  ASSERT_NE(server.port(), 0) << "server did not start";

  test::TestDriver driver;
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
  EXPECT_FALSE(user.Sdp().video.encoding.empty());
  if (kind == Server::kGst) {
    EXPECT_EQ(user.Sdp().video.encoding, "H264/90000");
    EXPECT_FALSE(user.Sdp().sps.empty());
  }
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

std::string ModeName(const ::testing::TestParamInfo<Mode>& info) {
  const Server kind = std::get<0>(info.param);
  const RtspAuth auth = std::get<1>(info.param);
  return std::string(kind == Server::kSim ? "Sim" : "Gst") +
         (auth == RtspAuth::kNone     ? "None"
          : auth == RtspAuth::kBasic  ? "Basic"
          : auth == RtspAuth::kDigest ? "Digest"
                                      : "DigestSha256") +
         (std::get<2>(info.param) == kRtpOverUdp ? "Udp" : "Interleaved");
}

INSTANTIATE_TEST_SUITE_P(AuthAndTransport, RtspSessionTest,
                         ::testing::Combine(::testing::Values(Server::kSim, Server::kGst),
                                            ::testing::Values(RtspAuth::kNone, RtspAuth::kBasic, RtspAuth::kDigest),
                                            ::testing::Values(kRtpOverUdp, kRtpInterleaved)),
                         ModeName);
// GStreamer's own server knows no SHA-256; the simulated camera offers it first.
INSTANTIATE_TEST_SUITE_P(Sha256, RtspSessionTest,
                         ::testing::Combine(::testing::Values(Server::kSim), ::testing::Values(RtspAuth::kDigestSha256),
                                            ::testing::Values(kRtpOverUdp, kRtpInterleaved)),
                         ModeName);

class RtspWrongPasswordTest : public ::testing::TestWithParam<Server> {};

TEST_P(RtspWrongPasswordTest, EndsTheSessionWithoutMedia) {
  AnyServer server(GetParam(), GetParam() == Server::kSim ? RtspAuth::kDigestSha256 : RtspAuth::kDigest, "right");
  ASSERT_NE(server.port(), 0);
  test::TestDriver driver;
  test::RecordingRtspUser user;
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(ParamsFor(server, "wrong"), &user, kRtpInterleaved));
  ASSERT_TRUE(user.WaitForEvent("closed", 20000));
  client.Stop();
  EXPECT_EQ(user.Events(), std::vector<std::string>{"closed"});
  EXPECT_TRUE(user.Packets().empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, RtspWrongPasswordTest, ::testing::Values(Server::kSim, Server::kGst));

}  // namespace
}  // namespace orbisan
