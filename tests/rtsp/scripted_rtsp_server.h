#pragma once

// A TCP server on loopback that records RTSP requests and answers each from a
// script. The script sees the request text and its number (0-based over the
// server's life) and returns the bytes to send back; kSilent sends nothing.
// Interleaved frames from the client ("$", channel, length) are collected
// apart. On demand it behaves like a hostile or strict camera: answers
// trickle one byte at a time, or the connection is dropped when no request
// came within a session time-out.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rtp_test_util.h"

namespace orbisan::test {

class ScriptedRtspServer {
 public:
  using Script = std::function<std::string(const std::string& request, size_t index)>;
  static inline const std::string kSilent = "<silent>";

  explicit ScriptedRtspServer(Script script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    listen(listener_, 4);
    socklen_t length = sizeof local;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedRtspServer() {
    running_.store(false);
    thread_.join();
    close(listener_);
  }

  uint16_t port() const { return port_; }
  std::vector<std::string> Requests() { return requests_.Items(); }
  bool WaitForRequests(size_t count, int timeoutMs = 10000) {
    return requests_.WaitForCount(count, std::chrono::milliseconds(timeoutMs));
  }
  // Sends raw bytes on the current connection (interleaved data); false
  // when there is none or the client stopped reading for a second.
  bool Send(const std::string& bytes) {
    const int fd = connection_.load();
    return fd >= 0 && SendBounded(fd, bytes, 0);
  }
  // Answers go out one byte per interval (0: at once).
  void SetTrickleMs(int ms) { trickleMs_.store(ms); }
  // Drops the connection when no request came for this long (0: never).
  void SetSessionTimeoutMs(int ms) { sessionTimeoutMs_.store(ms); }
  int Drops() const { return drops_.load(); }
  // Interleaved frames the client sent: channel and data.
  std::vector<std::pair<uint8_t, std::string>> Frames() { return frames_.Items(); }

 private:
  void Run() {
    while (running_.load()) {
      pollfd pfd{listener_, POLLIN, 0};
      if (poll(&pfd, 1, 50) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      connection_.store(fd);
      Serve(fd);
      std::lock_guard<std::mutex> lock(sendMutex_);
      connection_.store(-1);
      close(fd);
    }
  }

  // Bounded in time: a client that stops reading cannot hold the server.
  bool SendBounded(int fd, const std::string& bytes, int trickleMs) {
    std::lock_guard<std::mutex> lock(sendMutex_);
    const size_t chunk = trickleMs > 0 ? 1 : bytes.size();
    for (size_t sent = 0, stalls = 0; sent < bytes.size() && running_.load();) {
      pollfd pfd{fd, POLLOUT, 0};
      if (poll(&pfd, 1, 50) <= 0) {
        if (++stalls > 20) return false;
        continue;
      }
      const ssize_t n =
          send(fd, bytes.data() + sent, std::min(chunk, bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) sent += static_cast<size_t>(n);
      stalls = 0;
      if (trickleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(trickleMs));
    }
    return true;
  }

  void Serve(int fd) {
    std::string pending;
    char buffer[4096];
    auto lastRequest = std::chrono::steady_clock::now();
    while (running_.load()) {
      const int timeoutMs = sessionTimeoutMs_.load();
      if (timeoutMs > 0 && std::chrono::steady_clock::now() - lastRequest > std::chrono::milliseconds(timeoutMs)) {
        ++drops_;
        return;
      }
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      pending.append(buffer, static_cast<size_t>(n));
      for (;;) {
        if (!pending.empty() && pending[0] == '$') {
          if (pending.size() < 4) break;
          const size_t length = (static_cast<uint8_t>(pending[2]) << 8) | static_cast<uint8_t>(pending[3]);
          if (pending.size() < 4 + length) break;
          frames_.Add({static_cast<uint8_t>(pending[1]), pending.substr(4, length)});
          pending.erase(0, 4 + length);
          continue;
        }
        const size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) break;
        lastRequest = std::chrono::steady_clock::now();
        const std::string request = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        const std::string answer = script_(request, requests_.Add(request));
        if (answer != kSilent && !answer.empty()) SendBounded(fd, answer, trickleMs_.load());
      }
    }
  }

  Script script_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> running_{true};
  std::atomic<int> connection_{-1};
  std::atomic<int> trickleMs_{0};
  std::atomic<int> sessionTimeoutMs_{0};
  std::atomic<int> drops_{0};
  std::mutex sendMutex_;
  Recorded<std::pair<uint8_t, std::string>> frames_;
  Recorded<std::string> requests_;
  std::thread thread_;
};

// The method of a request ("DESCRIBE", ...).
inline std::string Method(const std::string& request) { return request.substr(0, request.find(' ')); }

// The CSeq value of a request as text.
inline std::string CSeqOf(const std::string& request) {
  const size_t at = request.find("CSeq: ");
  if (at == std::string::npos) return {};
  return request.substr(at + 6, request.find("\r\n", at) - at - 6);
}

}  // namespace orbisan::test
