#pragma once

// A TCP server on loopback that records RTSP requests and answers each from a
// script. The script sees the request text and its number (0-based over the
// server's life) and returns the bytes to send back; kSilent sends nothing,
// kClose drops the connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orbisan::test {

class ScriptedRtspServer {
 public:
  using Script = std::function<std::string(const std::string& request, size_t index)>;
  static inline const std::string kSilent = "<silent>";
  static inline const std::string kClose = "<close>";

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
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  bool WaitForRequests(size_t count, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
  }
  // Sends raw bytes on the current connection (interleaved data).
  bool Send(const std::string& bytes) {
    const int fd = connection_.load();
    return fd >= 0 && send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

 private:
  void Run() {
    while (running_.load()) {
      pollfd pfd{listener_, POLLIN, 0};
      if (poll(&pfd, 1, 50) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      connection_.store(fd);
      Serve(fd);
      connection_.store(-1);
      close(fd);
    }
  }

  void Serve(int fd) {
    std::string pending;
    char buffer[4096];
    while (running_.load()) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos;) {
        const std::string request = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        size_t index;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
          index = requests_.size() - 1;
        }
        changed_.notify_all();
        const std::string answer = script_(request, index);
        if (answer == kClose) return;
        if (answer != kSilent && !answer.empty()) send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      }
    }
  }

  Script script_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> running_{true};
  std::atomic<int> connection_{-1};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> requests_;
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
