#pragma once

// A plain UDP socket on loopback for tests: sends datagrams to the code under
// test and receives what it answers.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace orbisan::test {

inline sockaddr_in Loopback(uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  inet_pton(AF_INET, address, &out.sin_addr);
  return out;
}

class UdpTestSocket {
 public:
  explicit UdpTestSocket(const char* bindAddress = "127.0.0.1", uint16_t port = 0) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = Loopback(port, bindAddress);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~UdpTestSocket() {
    if (fd_ >= 0) close(fd_);
  }
  UdpTestSocket(const UdpTestSocket&) = delete;
  UdpTestSocket& operator=(const UdpTestSocket&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  uint16_t port() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  bool SendTo(uint16_t port, const std::vector<uint8_t>& data, const char* address = "127.0.0.1") {
    const sockaddr_in to = Loopback(port, address);
    return sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(data.size());
  }
  // One datagram, or nothing within timeoutMs.
  std::optional<std::vector<uint8_t>> Receive(int timeoutMs, sockaddr_in* from = nullptr) {
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0) return std::nullopt;
    std::vector<uint8_t> buffer(65536);
    sockaddr_in source{};
    socklen_t length = sizeof source;
    const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&source), &length);
    if (n < 0) return std::nullopt;
    if (from) *from = source;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
  }

 private:
  int fd_ = -1;
};

// Calls open(port) with free ports the kernel picks for a probe socket until
// it succeeds; returns that port, or 0.
template <typename Open>
uint16_t OnFreePort(Open open) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const uint16_t port = UdpTestSocket("0.0.0.0").port();
    if (open(port)) return port;
  }
  return 0;
}

}  // namespace orbisan::test
