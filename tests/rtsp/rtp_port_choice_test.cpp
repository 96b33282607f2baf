#include "rtsp/rtp_port_choice.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "rtp_test_util.h"
#include "udp_test_socket.h"

namespace orbisan {
namespace {

using namespace std::chrono_literals;
using test::UdpTestSocket;

// Sets the packet-received event for every packet from the camera, as the
// channels do.
class CameraPacketUser : public IRTPReceiverUser {
 public:
  void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket&) override {
    if (source.sin_addr.s_addr == htonl(INADDR_LOOPBACK)) packetReceived.Set();
  }
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  CManualEvent packetReceived;
};

// A range of ports far from the ones the driver uses for real, so that this
// test does not collide with other programs on the machine.
uint16_t FreeEvenBase() {
  for (uint16_t base = 47000; base < 48000; base += 100) {
    bool free = true;
    for (uint16_t p = base; p < base + 8 && free; ++p) free = UdpTestSocket("0.0.0.0", p).ok();
    if (free) return base;
  }
  return 0;
}

class RtpPortChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = FreeEvenBase();
    ASSERT_NE(base, 0);
  }
  void TearDown() override {
    receiver.Stop();
    rtcp.Stop();
  }
  bool Choose(uint32_t quietMs, uint16_t first, uint16_t limit) {
    return ChooseRtpPortPair(receiver, rtcp, htonl(INADDR_LOOPBACK), stop, user.packetReceived, quietMs, first, limit);
  }

  CameraPacketUser user;
  CRTPReceiver receiver{&user};
  CRTCPHandler rtcp{nullptr};
  CManualEvent stop;
  uint16_t base = 0;
};

TEST_F(RtpPortChoiceTest, SkipsTakenPortsAndPortsAlreadyReceivingTheCamera) {
  // base: bound by someone else. base + 2: an old stream of the camera still
  // arrives there. base + 4 is quiet and must be chosen (base + 5 for RTCP).
  UdpTestSocket occupant("0.0.0.0", base);
  ASSERT_TRUE(occupant.ok());
  std::atomic<bool> sending{true};
  CManualEvent cameraSending;
  std::thread camera([&] {
    UdpTestSocket socket;
    test::RtpFields fields = {.payload = {1, 2, 3}};
    for (int i = 0; i < 20000 && sending.load(); ++i) {
      fields.sequence = static_cast<uint16_t>(i);
      socket.SendTo(base + 2, test::BuildRtp(fields));
      cameraSending.Set();
      std::this_thread::sleep_for(5ms);
    }
  });
  // The old stream must already flow when the search listens on its port; a
  // one-second window leaves a loaded machine room to deliver one of its packets.
  const bool flowing = cameraSending.Wait(10000);
  const bool chosen = flowing && Choose(1000, base, base + 8);
  sending.store(false);
  camera.join();
  ASSERT_TRUE(flowing);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(receiver.GetPort(), base + 4);
  EXPECT_EQ(rtcp.GetPort(), base + 5);
}

TEST_F(RtpPortChoiceTest, FailsWhenRtcpPortIsTakenEverywhereOrOnStop) {
  UdpTestSocket rtcp1("0.0.0.0", base + 1);
  UdpTestSocket rtcp2("0.0.0.0", base + 3);
  EXPECT_FALSE(Choose(50, base, base + 4));
  EXPECT_EQ(receiver.GetPort(), 0) << "nothing left running after a failed search";

  stop.Set();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(Choose(30000, base + 4, base + 8));
  // A search that ignored the stop would wait 30 s on each pair.
  EXPECT_LT(std::chrono::steady_clock::now() - before, 15s) << "a stop request ends the search at once";
  EXPECT_EQ(receiver.GetPort(), 0);
}

}  // namespace
}  // namespace orbisan
