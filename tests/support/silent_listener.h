#pragma once

// A camera that takes connections on loopback and never answers: every
// connection is accepted and kept open, nothing is read or written.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace orbisan::test {

class SilentListener {
 public:
  SilentListener() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(socket_, 16);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (int client; (client = ::accept(socket_, nullptr, nullptr)) >= 0;) {
        clients_.push_back(client);
        ++accepted_;
      }
    });
  }
  ~SilentListener() {
    ::shutdown(socket_, SHUT_RDWR);  // ends the accept
    thread_.join();
    for (int client : clients_) ::close(client);
    ::close(socket_);
  }
  uint16_t Port() const { return port_; }
  int Accepted() const { return accepted_.load(); }

 private:
  int socket_;
  uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::vector<int> clients_;
  std::thread thread_;
};

}  // namespace orbisan::test
