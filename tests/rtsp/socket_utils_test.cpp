#include "platform/socket_utils.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "udp_test_socket.h"

namespace orbisan {
namespace {

TEST(SocketUtilsTest, ReadinessClasses) {
  test::UdpTestSocket socket;
  test::UdpTestSocket sender;
  EXPECT_EQ(WaitReadable(socket.fd(), 20), ReadinessResult::kTimeout);
  ASSERT_TRUE(sender.SendTo(socket.port(), {1, 2, 3}));
  EXPECT_EQ(WaitReadable(socket.fd(), 2000), ReadinessResult::kReadable);
  // A descriptor that is no longer open counts as a closed client.
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ::close(fd);
  EXPECT_EQ(WaitReadable(fd, 20), ReadinessResult::kClosed);
}

TEST(SocketUtilsTest, ConnectIsBounded) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = test::Loopback(0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_TRUE(ConnectWithTimeout(fd, address, 1000));
  const int flags = fcntl(fd, F_GETFL, 0);
  EXPECT_EQ(flags & O_NONBLOCK, 0) << "blocking again after the connect";
  CloseSocket(fd);
  EXPECT_EQ(fd, kInvalidSocket);
  ::close(listener);

  fd = ::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_FALSE(ConnectWithTimeout(fd, address, 1000)) << "refused";
  CloseSocket(fd);
}

TEST(SocketUtilsTest, Addresses) {
  in_addr a{};
  EXPECT_TRUE(ParseIPv4("239.1.2.3", a));
  EXPECT_FALSE(ParseIPv4("239.1.2", a));
  EXPECT_FALSE(ParseIPv4("", a));
  EXPECT_TRUE(ResolveIPv4("localhost", a));
  EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
  EXPECT_FALSE(ResolveIPv4("no-such-host.invalid", a));
}

}  // namespace
}  // namespace orbisan
