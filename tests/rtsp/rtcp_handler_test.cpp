#include "rtsp/rtcp_handler.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "rtsp/rtcp_report_state.h"
#include "rtsp/rtp_jitter.h"
#include "support/wait_until.h"
#include "udp_test_socket.h"

namespace orbisan {
namespace {

using namespace std::chrono_literals;
using test::UdpTestSocket;

class ByeUser : public IRTCPHandlerUser {
 public:
  void ByeReceived() override { ++byes; }
  std::atomic<int> byes{0};
};

const uint32_t kCamera = test::Loopback(0).sin_addr.s_addr;

uint32_t ReadU32(const std::vector<uint8_t>& p, size_t at) {
  return (uint32_t(p[at]) << 24) | (uint32_t(p[at + 1]) << 16) | (uint32_t(p[at + 2]) << 8) | p[at + 3];
}

// A sender report as a camera sends it: SSRC 0xCAFEBABE, NTP timestamp
// 0x11223344:0x55667788 (middle 32 bits 0x33445566), followed by an SDES part.
std::vector<uint8_t> SenderReport() {
  std::vector<uint8_t> sr = {0x80, 200,  0, 6, 0xCA, 0xFE, 0xBA, 0xBE, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                             0x77, 0x88, 0, 0, 0,    1,    0,    0,    0,    2,    0,    0,    0,    3};
  const std::vector<uint8_t> sdes = {0x81, 202, 0, 2, 0xCA, 0xFE, 0xBA, 0xBE, 1, 2, 'a', 0};
  sr.insert(sr.end(), sdes.begin(), sdes.end());
  return sr;
}

const std::vector<uint8_t> kCameraBye = {0x81, 203, 0, 1, 0xCA, 0xFE, 0xBA, 0xBE};

class RtcpHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(camera.ok());
    port = test::OnFreePort([&](uint16_t p) { return handler.Start(kCamera, p); });
    ASSERT_NE(port, 0);
  }
  ByeUser user;
  CRTCPHandler handler{&user};
  UdpTestSocket camera;
  uint16_t port = 0;
};

TEST_F(RtcpHandlerTest, ReceiverReportAfterWrapAndByeOnStop) {
  for (uint16_t seq : {65534, 65535, 0, 1}) handler.CountPacket(seq);

  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(camera.SendTo(port, SenderReport()));
  sockaddr_in from{};
  const auto report = camera.Receive(5000, &from);
  const auto answered = std::chrono::steady_clock::now();
  ASSERT_TRUE(report.has_value()) << "no receiver report";
  EXPECT_EQ(ntohs(from.sin_port), port) << "the report leaves from the RTCP port";
  ASSERT_EQ(report->size(), 32u);
  const std::vector<uint8_t>& rr = *report;
  EXPECT_EQ(std::vector<uint8_t>(rr.begin(), rr.begin() + 4), (std::vector<uint8_t>{0x81, 201, 0, 7}));
  const uint32_t ownSsrc = handler.GetOwnSsrc();
  EXPECT_EQ(std::memcmp(rr.data() + 4, &ownSsrc, 4), 0);
  // The sender's SSRC, none lost, one cycle and highest number 1, no jitter, the NTP timestamp's middle bits.
  EXPECT_EQ(std::vector<uint8_t>(rr.begin() + 8, rr.begin() + 28),
            (std::vector<uint8_t>{0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0x33, 0x44, 0x55, 0x66}));
  const double realDelayUnits = std::chrono::duration<double>(answered - sent).count() * 65536.0;
  EXPECT_LE(ReadU32(rr, 28), static_cast<uint32_t>(realDelayUnits) + 66) << "delay in 1/65536 s";

  // A second sender report after a pause gets one answer, with a delay
  // counted from it, not from the first.
  std::this_thread::sleep_for(300ms);
  const auto sentAgain = std::chrono::steady_clock::now();
  ASSERT_TRUE(camera.SendTo(port, SenderReport()));
  const auto second = camera.Receive(5000);
  const double bound = std::chrono::duration<double>(std::chrono::steady_clock::now() - sentAgain).count() * 65536.0;
  ASSERT_TRUE(second.has_value());
  EXPECT_LE(ReadU32(*second, 28), static_cast<uint32_t>(bound) + 66);
  EXPECT_FALSE(camera.Receive(300).has_value()) << "one report per sender report";

  handler.Stop();
  const auto bye = camera.Receive(2000);
  ASSERT_TRUE(bye.has_value()) << "BYE after a sender report";
  EXPECT_EQ(*bye, (std::vector<uint8_t>{0x81, 203, 0, 1, rr[4], rr[5], rr[6], rr[7]}));
  EXPECT_FALSE(camera.Receive(200).has_value());
}

TEST_F(RtcpHandlerTest, SilentWithoutSenderReportHandlesCameraByeRestartsAndCounts) {
  for (uint16_t seq = 1; seq < 50; ++seq) handler.CountPacket(seq);
  // Receiver reports, SDES, a part claiming more bytes than the datagram has
  // and a sender report from another host.
  ASSERT_TRUE(camera.SendTo(
      port, {0x81, 201, 0, 7, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  std::vector<uint8_t> broken = {0x80, 201, 0, 40, 1, 2, 3, 4};
  const std::vector<uint8_t> sr = SenderReport();
  broken.insert(broken.end(), sr.begin(), sr.end());  // unreachable behind the broken part
  ASSERT_TRUE(camera.SendTo(port, broken));
  ASSERT_TRUE(camera.SendTo(port, {0x80, 200, 0}));  // too short to look at
  UdpTestSocket stranger("127.0.0.2");
  ASSERT_TRUE(stranger.ok());
  ASSERT_TRUE(stranger.SendTo(port, SenderReport()));
  EXPECT_FALSE(stranger.Receive(500).has_value()) << "RTCP from another host is ignored";
  EXPECT_FALSE(camera.Receive(100).has_value()) << "no receiver report without a sender report";
  EXPECT_FALSE(handler.IsReporting());

  ASSERT_TRUE(camera.SendTo(port, SenderReport()));
  ASSERT_TRUE(camera.Receive(5000).has_value());
  ASSERT_TRUE(camera.SendTo(port, kCameraBye));
  EXPECT_TRUE(test::WaitUntil([&] { return user.byes.load() > 0; }));
  EXPECT_EQ(user.byes.load(), 1);
  EXPECT_FALSE(handler.IsReporting());
  handler.Stop();
  EXPECT_FALSE(camera.Receive(300).has_value()) << "the camera said goodbye first: no BYE back";

  // A start needs the camera's address and a stopped handler, and takes a new source identifier.
  CRTCPHandler other(&user);
  EXPECT_FALSE(other.Start(0, 40001));
  const uint32_t firstSsrc = handler.GetOwnSsrc();
  ASSERT_TRUE(handler.Start(kCamera, port));
  EXPECT_FALSE(handler.Start(kCamera, port + 2)) << "already running";
  EXPECT_NE(handler.GetOwnSsrc(), firstSsrc);

  // The sequence statistics start anew: "highest received cycles" after counting these numbers.
  const auto state = [&](std::initializer_list<uint16_t> sequences) {
    for (uint16_t seq : sequences) handler.CountPacket(seq);
    const auto s = handler.GetSequenceState();
    EXPECT_TRUE(s.started);
    return std::to_string(s.highest) + " " + std::to_string(s.received) + " " + std::to_string(s.cycles);
  };
  EXPECT_EQ(state({1000}), "1000 1 0");
  EXPECT_EQ(state({1001, 1001, 990}), "1001 4 0") << "a duplicate and a late one: counted, highest unchanged";
  EXPECT_EQ(state({20000}), "1001 4 0") << "a jump: remembered, not taken";
  EXPECT_EQ(state({20001}), "20001 1 0") << "the jump repeats: statistics restart there";
  for (uint32_t i = 20002; i < 20002 + 2 * 65536; i += 1000) handler.CountPacket(static_cast<uint16_t>(i));
  EXPECT_EQ(handler.GetSequenceState().cycles, 2u * 65536) << "two wraps";
  handler.Stop();
}

// What the driver tells the host about a stream's health: the interarrival
// jitter of packets with chosen arrival times, and the camera's clock as its
// sender reports give it.
TEST(StreamHealth, ArrivalJitterAndTheCameraClockOffsetFromTheSenderReport) {
  struct Case {
    const char* name;
    uint32_t firstTimestamp;
    uint64_t wobbleUs;  // every other packet arrives this much late
    double jitterMs;
  };
  // 0xFFEB0000 wraps some twenty packets before the end.
  const Case cases[] = {
      {"constant delay", 1000, 0, 0.0},
      {"constant delay across the timestamp wrap", 0xFFEB0000u, 0, 0.0},
      {"every other packet 10 ms late", 1000, 10000, 10.0},
      {"every other packet 2 ms late across the wrap", 0xFFEB0000u, 2000, 2.0},
  };
  for (const Case& c : cases) {
    CRtpJitter jitter;
    EXPECT_LT(jitter.JitterMs(), 0) << c.name;
    // 25 frames a second on the 90 kHz clock, sent on time, 7 ms in transit.
    const uint64_t startUs = 123456789;
    for (uint32_t i = 0; i < 400; ++i) {
      const uint64_t arrivalUs = startUs + i * 40000ull + 7000 + (i % 2 ? c.wobbleUs : 0);
      jitter.PacketArrived(c.firstTimestamp + i * 3600, arrivalUs);
    }
    EXPECT_NEAR(jitter.JitterMs(), c.jitterMs, 0.02) << c.name;
  }

  CRTCPReportState state;
  int64_t offset = 0;
  EXPECT_FALSE(state.CameraClockOffsetMs(offset));
  // A sender report stamped 5 s ahead of this host's clock.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const int64_t cameraMs = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() + 5000;
  const uint64_t ntpSeconds = static_cast<uint64_t>(cameraMs / 1000) + 2208988800ull;
  const uint64_t fraction = (static_cast<uint64_t>(cameraMs % 1000) << 32) / 1000;
  uint8_t report[28] = {0x80, 200, 0, 6, 1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) {
    report[8 + i] = static_cast<uint8_t>(ntpSeconds >> (24 - 8 * i));
    report[12 + i] = static_cast<uint8_t>(fraction >> (24 - 8 * i));
  }
  ASSERT_EQ(state.ReadCompound(report, sizeof report, 0), CRTCPReportState::kSawSenderReport);
  ASSERT_TRUE(state.CameraClockOffsetMs(offset));
  EXPECT_NEAR(static_cast<double>(offset), 5000, 250);
  state.Clear();  // a new session of the same camera
  EXPECT_TRUE(state.CameraClockOffsetMs(offset));
}

}  // namespace
}  // namespace orbisan
