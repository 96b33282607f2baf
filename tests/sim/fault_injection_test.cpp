// Faults the tests of a client inject into the simulated camera, and its reboot.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

using simtest::HttpGet;
using simtest::RawRtspClient;
using simtest::WaitForListening;
using ::strandline::sim::DescribeFault;
using ::strandline::sim::SimulatedCamera;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatedCamera::Options options;
    options.model = "TCM5311";
    options.reboot_duration = 1s;
    camera_ = std::make_unique<SimulatedCamera>(options);
    ASSERT_TRUE(camera_->Start());
    camera_->SetSetting("VIDEO_RESOLUTION", "N320x240");
  }

  std::string Cgi(const std::string& family, const std::string& items) {
    return camera_->HttpUrl() + "/cgi-bin/" + family + "?USER=admin&PWD=admin" + items;
  }

  std::unique_ptr<SimulatedCamera> camera_;
};

TEST_F(FaultTest, RefusedConnectionsComeBackOnTheSamePort) {
  uint16_t port = camera_->RtspPort();
  RawRtspClient playing;
  ASSERT_TRUE(playing.Connect(port));
  ASSERT_TRUE(playing.PlayInterleaved(camera_->RtspUrl("/")));
  camera_->SetRtspRefuseConnections(true);
  EXPECT_TRUE(WaitForListening(port, false, 2s));
  RawRtspClient refused;
  EXPECT_FALSE(refused.Connect(port));
  // A session that was running goes on.
  EXPECT_GT(playing.Receive(500ms).rtp_packets, 0);
  camera_->SetRtspRefuseConnections(false);
  EXPECT_EQ(camera_->RtspPort(), port);
  RawRtspClient again;
  ASSERT_TRUE(again.Connect(port));
  EXPECT_EQ(again.Request("OPTIONS", camera_->RtspUrl("/")).status, 200);
}

TEST_F(FaultTest, DescribeAnswers500OrNothing) {
  camera_->SetDescribeFault(DescribeFault::kStatus500);
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  EXPECT_EQ(client.Request("OPTIONS", camera_->RtspUrl("/")).status, 200);
  EXPECT_EQ(client.Request("DESCRIBE", camera_->RtspUrl("/")).status, 500);
  client.Close();

  camera_->SetDescribeFault(DescribeFault::kNoAnswer);
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  auto silent = client.Request("DESCRIBE", camera_->RtspUrl("/"), "", 1500ms);
  EXPECT_EQ(silent.status, 0);
  // The connection stays open: nothing arrives, not even its end.
  auto traffic = client.Receive(300ms);
  EXPECT_FALSE(traffic.closed);
  client.Close();

  camera_->SetDescribeFault(DescribeFault::kNone);
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  EXPECT_EQ(client.Request("DESCRIBE", camera_->RtspUrl("/")).status, 200);
}

TEST_F(FaultTest, FrozenStreamSendsNoRtpUntilThawed) {
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  ASSERT_TRUE(client.PlayInterleaved(camera_->RtspUrl("/")));
  ASSERT_GT(client.Receive(700ms).rtp_packets, 0);
  camera_->SetStreamFrozen(true);
  client.Receive(300ms);  // what was already on its way
  auto frozen = client.Receive(1000ms);
  EXPECT_EQ(frozen.rtp_packets, 0);
  EXPECT_FALSE(frozen.closed);
  EXPECT_EQ(client.Request("OPTIONS", camera_->RtspUrl("/")).status, 200) << "the session itself stays up";
  camera_->SetStreamFrozen(false);
  EXPECT_GT(client.Receive(1000ms).rtp_packets, 0);
}

TEST_F(FaultTest, DroppedConnectionsEndTheirSessions) {
  RawRtspClient tcp;
  ASSERT_TRUE(tcp.Connect(camera_->RtspPort()));
  ASSERT_TRUE(tcp.PlayInterleaved(camera_->RtspUrl("/")));
  RawRtspClient idle;
  ASSERT_TRUE(idle.Connect(camera_->RtspPort()));
  EXPECT_EQ(idle.Request("OPTIONS", camera_->RtspUrl("/")).status, 200);
  EXPECT_EQ(camera_->RtspClientCount(), 2u);
  camera_->DropRtspConnections();
  EXPECT_TRUE(tcp.Receive(2000ms).closed);
  EXPECT_TRUE(idle.Receive(2000ms).closed);
  EXPECT_EQ(camera_->RtspClientCount(), 0u);
  // New connections are welcome.
  RawRtspClient next;
  ASSERT_TRUE(next.Connect(camera_->RtspPort()));
  EXPECT_EQ(next.Request("DESCRIBE", camera_->RtspUrl("/")).status, 200);
}

TEST_F(FaultTest, ByeEndsTheRunningStreamAndTheNextSessionGetsANewOne) {
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  ASSERT_TRUE(client.PlayInterleaved(camera_->RtspUrl("/")));
  ASSERT_GT(client.Receive(700ms).rtp_packets, 0);
  camera_->SendRtcpBye();
  auto after = client.Receive(2000ms);
  EXPECT_NE(std::find(after.rtcp_types.begin(), after.rtcp_types.end(), 203), after.rtcp_types.end())
      << "RTCP BYE (203) expected";
  auto silence = client.Receive(500ms);
  EXPECT_EQ(silence.rtp_packets, 0);
  client.Close();
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  ASSERT_TRUE(client.PlayInterleaved(camera_->RtspUrl("/")));
  EXPECT_GT(client.Receive(1500ms).rtp_packets, 0);
}

TEST_F(FaultTest, SaveRebootTakesTheCameraAwayAndBringsItBackWithItsSettings) {
  uint16_t http = camera_->HttpPort();
  uint16_t rtsp = camera_->RtspPort();
  EXPECT_THAT(HttpGet(Cgi("encoder", "&VIDEO_ENCODER=MJPEG")).body, HasSubstr("OK: VIDEO_ENCODER=MJPEG"));
  RawRtspClient playing;
  ASSERT_TRUE(playing.Connect(rtsp));
  ASSERT_TRUE(playing.PlayInterleaved(camera_->RtspUrl("/")));

  auto reboot = HttpGet(Cgi("system", "&SAVE_REBOOT"));
  EXPECT_EQ(reboot.status, 200);
  EXPECT_EQ(reboot.body, "OK: SAVE_REBOOT\r\n");
  EXPECT_TRUE(WaitForListening(http, false, 2s));
  EXPECT_TRUE(WaitForListening(rtsp, false, 2s));
  EXPECT_TRUE(playing.Receive(1000ms).closed) << "a reboot ends every session";
  EXPECT_TRUE(camera_->IsRebooting());
  ASSERT_TRUE(camera_->WaitUntilUp(10s));
  EXPECT_EQ(camera_->RebootCount(), 1);
  EXPECT_EQ(camera_->HttpPort(), http);
  EXPECT_EQ(camera_->RtspPort(), rtsp);
  EXPECT_THAT(HttpGet(Cgi("encoder", "&VIDEO_ENCODER")).body, HasSubstr("VIDEO_ENCODER='MJPEG'"));
  auto stream = simtest::Probe(camera_->RtspUrl("/"), "tcp");
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->codec, "mjpeg");

  // Faults set before a reboot still hold after it.
  camera_->SetDescribeFault(DescribeFault::kStatus500);
  camera_->Reboot();
  ASSERT_TRUE(camera_->WaitUntilUp(10s));
  EXPECT_EQ(camera_->RebootCount(), 2);
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(rtsp));
  EXPECT_EQ(client.Request("DESCRIBE", camera_->RtspUrl("/")).status, 500);
}

TEST_F(FaultTest, StopDuringARebootEndsAtOnce) {
  camera_->Reboot();
  EXPECT_TRUE(WaitForListening(camera_->HttpPort(), false, 2s));
  auto start = std::chrono::steady_clock::now();
  camera_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(camera_->IsRunning());
}

}  // namespace
