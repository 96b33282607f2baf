// Multicast reception. These tests only run inside a private network
// namespace (scripts/netns-run, registered by this folder's CMakeLists.txt):
// in the machine's own namespace the group traffic would leave through a
// real interface.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "rtsp/rtcp_handler.h"
#include "udp_test_socket.h"

namespace orbisan {
namespace {

constexpr const char* kGroup = "239.255.42.7";

TEST(MulticastTest, RtcpOnTheGroupAnswersTheSender) {
  if (std::getenv("STRANDLINE_NETNS") == nullptr) {
    const char* why = std::getenv("STRANDLINE_NETNS_UNAVAILABLE");
    GTEST_SKIP() << (why ? why : "multicast runs only in a private network namespace (scripts/netns-run)");
  }
  CRTCPHandler handler(nullptr);  // the camera's goodbye is not looked at here
  const uint16_t port = 45011;
  ASSERT_TRUE(handler.StartMulticast(htonl(INADDR_LOOPBACK), kGroup, port));
  // A sender on loopback with TTL 1, as the camera would be.
  test::UdpTestSocket camera;
  const in_addr loopback{htonl(INADDR_LOOPBACK)};
  setsockopt(camera.fd(), IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
  const unsigned char ttl = 1;
  setsockopt(camera.fd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
  std::vector<uint8_t> sr = {0x80, 200, 0, 6, 1, 2, 3, 4, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD,
                             0,    0,   0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0};
  handler.CountPacket(7);
  ASSERT_TRUE(camera.SendTo(port, sr, kGroup));
  const auto report = camera.Receive(5000);
  ASSERT_TRUE(report.has_value()) << "receiver report to the sender's own address";
  ASSERT_EQ(report->size(), 32u);
  EXPECT_EQ((*report)[1], 201);
  EXPECT_EQ((*report)[19], 7);
  handler.Stop();
}

}  // namespace
}  // namespace orbisan
