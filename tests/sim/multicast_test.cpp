// The "/multicast" path, as this camera family's clients use it: group and
// port from the description, SETUP with those ports, no keep-alive, and a
// stream that goes on past the time its own RTCP comes back to the server
// (the driver's multicast test records too briefly to notice either).
// Multicast never runs in the machine's own network namespace: the test runs
// once more inside a new namespace whose only interface is loopback
// (registered by this folder's CMakeLists.txt) and skips itself elsewhere.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

using simtest::RawRtspClient;
using ::strandline::sim::SimulatedCamera;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// A UDP socket on port of every address, shared with the server's own; -1 when it cannot bind.
int BoundUdp(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return fd;
  close(fd);
  return -1;
}

// Packets that arrive on fd within duration.
int PacketsWithin(int fd, std::chrono::milliseconds duration) {
  int packets = 0;
  const auto deadline = std::chrono::steady_clock::now() + duration;
  for (pollfd wait{fd, POLLIN, 0};;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return packets;
    char buffer[65536];
    if (poll(&wait, 1, static_cast<int>(left.count())) > 0 && recv(fd, buffer, sizeof(buffer), 0) > 0) ++packets;
  }
}

TEST(MulticastTest, ClientsGetTheAnnouncedGroupAndPortAndTheStreamKeepsGoing) {
  if (std::getenv("STRANDLINE_NETNS") == nullptr) {
    GTEST_SKIP() << "multicast runs only inside a private network namespace (scripts/netns-run)";
  }

  SimulatedCamera camera;
  ASSERT_TRUE(camera.Start());
  camera.SetSetting("VIDEO_RESOLUTION", "N320x240");
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera.RtspPort()));
  std::string url = camera.RtspUrl("/multicast");
  auto describe = client.Request("DESCRIBE", url, "Accept: application/sdp\r\n");
  ASSERT_EQ(describe.status, 200);
  std::smatch port_match;
  ASSERT_TRUE(std::regex_search(describe.body, port_match, std::regex("m=video ([0-9]+) ")));
  int port = std::stoi(port_match[1]);
  EXPECT_EQ(port, camera.MulticastPort());
  EXPECT_THAT(describe.body, HasSubstr("c=IN IP4 239.255.42.42/1"));

  // SETUP the way the driver does: multicast with the announced ports as client ports.
  std::string base = describe.headers["content-base"];
  auto setup = client.Request(
      "SETUP", base + "stream=0",
      "Transport: RTP/AVP;multicast;client_port=" + std::to_string(port) + "-" + std::to_string(port + 1) + "\r\n");
  ASSERT_EQ(setup.status, 200);
  EXPECT_THAT(setup.headers["transport"], HasSubstr("destination=239.255.42.42"));
  EXPECT_THAT(setup.headers["transport"], HasSubstr("port=" + std::to_string(port) + "-" + std::to_string(port + 1)));

  // A receiver on the same host can bind the group port (and its RTCP port) next to the server.
  const int media = BoundUdp(static_cast<uint16_t>(port)), reports = BoundUdp(static_cast<uint16_t>(port + 1));
  ip_mreq join{};
  inet_pton(AF_INET, "239.255.42.42", &join.imr_multiaddr);
  ASSERT_TRUE(media >= 0 && reports >= 0 && setsockopt(media, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof(join)) == 0);
  auto play = client.Request("PLAY", base, "Range: npt=0.000-\r\n");
  ASSERT_EQ(play.status, 200);
  std::smatch timeout;
  ASSERT_TRUE(std::regex_search(play.headers["session"], timeout, std::regex("timeout=([0-9]+)")))
      << play.headers["session"];
  EXPECT_GE(std::stoi(timeout[1]), 3600) << "no keep-alive comes from multicast clients";

  // Packets flow in every half second for six seconds while an empty
  // receiver report goes to the group, as a receiving client's does: the
  // server must not take its own RTCP for a collision and stop (that
  // happened after about 2 s).
  const unsigned char report[8] = {0x80, 201, 0x00, 0x01, 0x12, 0x34, 0x56, 0x78};
  sockaddr_in group{AF_INET, htons(static_cast<uint16_t>(port + 1)), {}, {}};
  inet_pton(AF_INET, "239.255.42.42", &group.sin_addr);
  for (int window = 0; window < 12; ++window) {
    sendto(reports, report, sizeof(report), 0, reinterpret_cast<sockaddr*>(&group), sizeof(group));
    EXPECT_GT(PacketsWithin(media, 500ms), 0) << "window " << window;
  }
  close(media);
  close(reports);
}

}  // namespace
