#pragma once

// A camera on loopback that takes no connection and never answers: the
// kernel completes the handshake into the backlog, nothing is read or sent.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace orbisan::test {

class SilentListener {
 public:
  SilentListener() {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(socket_, 16);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(socket_); }
  uint16_t Port() const { return port_; }
  // A client has connected (and waits for an answer).
  bool Connected() const {
    pollfd waiting{socket_, POLLIN, 0};
    return ::poll(&waiting, 1, 0) > 0;
  }

 private:
  int socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
  uint16_t port_ = 0;
};

}  // namespace orbisan::test
