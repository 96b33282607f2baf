// The session client against the simulated camera: DESCRIBE, SETUP, PLAY and
// TEARDOWN over UDP and interleaved, without authorization, with Basic and
// with Digest, and RTP packets arriving in both modes.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtp_port_choice.h"
#include "sim/simulated_camera.h"
#include "support/test_driver.h"

namespace orbisan {
namespace {

using namespace std::chrono_literals;

class SessionUser : public IRTSPClientUser, public IRTPReceiverUser, public IRTCPHandlerUser {
 public:
  bool SdpInfoReceived(const SDP_SESSION_INFO& info) override {
    std::lock_guard<std::mutex> lock(mutex_);
    encoding_ = info.video.encoding;
    return true;
  }
  void RtpPacketReceived(const CRTPPacket&) override { ++packets; }
  void SessionClosed() override { closed.Set(); }
  void DescribeFailed() override { ++describeFailures; }
  void RtpPacketArrived(const sockaddr_in&, const CRTPPacket&) override {
    ++packets;
    packetReceived.Set();
  }
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  void ByeReceived() override {}
  std::string Encoding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return encoding_;
  }

  std::atomic<int> packets{0};
  std::atomic<int> describeFailures{0};
  CManualEvent closed;
  CManualEvent packetReceived;

 private:
  std::mutex mutex_;
  std::string encoding_;
};

struct Case {
  strandline::sim::RtspAuth auth;
  uint32_t transport;
  const char* name;
};

class SimRtspClientTest : public ::testing::TestWithParam<Case> {};

TEST_P(SimRtspClientTest, SessionDeliversRtp) {
  strandline::sim::SimulatedCamera::Options options;
  options.rtsp_auth = GetParam().auth;
  options.user = "admin";
  options.password = "pa:ss";
  strandline::sim::SimulatedCamera camera(options);
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;

  test::TestDriver driver;
  SessionUser user;
  CRTPReceiver receiver(&user);
  CRTCPHandler rtcp(&user);
  RTSP_SESSION_PARAMS params;
  params.host = "127.0.0.1";
  params.serverPort = camera.RtspPort();
  params.path = "/track1";
  params.userName = "admin";
  params.password = "pa:ss";
  if (GetParam().transport == kRtpOverUdp) {
    CManualEvent stop;
    ASSERT_TRUE(ChooseRtpPortPair(receiver, rtcp, htonl(INADDR_LOOPBACK), stop, user.packetReceived, 50));
    params.clientRtpPort = receiver.GetPort();
    params.clientRtcpPort = rtcp.GetPort();
  }
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(params, &user, GetParam().transport));
  for (int i = 0; i < 750 && user.packets.load() < 20 && !user.closed.IsSet(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_GE(user.packets.load(), 20);
  EXPECT_FALSE(user.Encoding().empty());
  client.Stop();
  // Whether the TEARDOWN answer came within the stop's short receive time-out
  // depends on the machine's load (a sanitizer slows the camera down a lot),
  // so only the end of the session is checked.
  EXPECT_FALSE(client.IsConnected());
  receiver.Stop();
  rtcp.Stop();
  EXPECT_TRUE(user.closed.IsSet());
  EXPECT_EQ(user.describeFailures.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(AuthAndTransport, SimRtspClientTest,
                         ::testing::Values(Case{strandline::sim::RtspAuth::kNone, kRtpOverUdp, "NoneUdp"},
                                           Case{strandline::sim::RtspAuth::kBasic, kRtpInterleaved, "BasicInterleaved"},
                                           Case{strandline::sim::RtspAuth::kDigest, kRtpOverUdp, "DigestUdp"},
                                           Case{strandline::sim::RtspAuth::kDigest, kRtpInterleaved,
                                                "DigestInterleaved"}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orbisan
