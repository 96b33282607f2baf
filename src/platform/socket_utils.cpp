#include "platform/socket_utils.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orbisan {

namespace {

timeval ToTimeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

}  // namespace

bool SetReceiveTimeoutMs(int fd, uint32_t ms) {
  const timeval tv = ToTimeval(ms);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetSendTimeoutMs(int fd, uint32_t ms) {
  const timeval tv = ToTimeval(ms);
  return setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool SetReceiveBufferSize(int fd, uint32_t bytes) {
  const int value = bytes > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(bytes);
  return setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, sizeof value) == 0;
}

uint32_t GetReceiveBufferSize(int fd) {
  int value = 0;
  socklen_t length = sizeof value;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &length) != 0 || value <= 0) return 0;
  return static_cast<uint32_t>(value) / 2;
}

bool SetNonBlocking(int fd, bool nonBlocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, wanted) == 0;
}

bool ParseIPv4(const std::string& text, in_addr& out) {
  if (text.empty()) return false;
  return inet_pton(AF_INET, text.c_str(), &out) == 1;
}

bool ResolveIPv4(const std::string& host, in_addr& out) {
  if (host.empty()) {
    errno = EADDRNOTAVAIL;
    return false;
  }
  if (ParseIPv4(host, out)) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    errno = EADDRNOTAVAIL;
    return false;
  }
  bool found = false;
  for (addrinfo* it = result; it != nullptr; it = it->ai_next) {
    if (it->ai_family == AF_INET && it->ai_addr != nullptr) {
      out = reinterpret_cast<const sockaddr_in*>(it->ai_addr)->sin_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(result);
  if (!found) errno = EADDRNOTAVAIL;
  return found;
}

bool ConnectWithTimeout(int fd, const sockaddr_in& address, uint32_t timeoutMs) {
  if (timeoutMs < 100) {
    errno = ETIMEDOUT;
    return false;
  }
  if (!SetNonBlocking(fd, true)) return false;
  int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (rc != 0) {
    if (errno != EINPROGRESS && errno != EWOULDBLOCK) return false;
    const uint32_t rounds = timeoutMs / 100;
    bool connected = false;
    for (uint32_t round = 0; round < rounds && !connected; ++round) {
      pollfd pfd{fd, POLLOUT, 0};
      const int ready = poll(&pfd, 1, 100);
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
        if (error != 0) {
          errno = error;  // refused, unreachable ...: the caller can say which
          return false;
        }
        connected = true;
      }
    }
    if (!connected) {
      errno = ETIMEDOUT;
      return false;
    }
  }
  return SetNonBlocking(fd, false);
}

ReadinessResult WaitReadable(int fd, uint32_t timeoutMs) {
  pollfd pfd{fd, POLLIN, 0};
  const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
  const int ready = poll(&pfd, 1, timeout);
  if (ready == 0) return ReadinessResult::kTimeout;
  if (ready < 0) {
    switch (errno) {
      case EFAULT:
      case ENETDOWN:
      case EBADF:
        return ReadinessResult::kClosed;
      case EINVAL:
        return ReadinessResult::kInvalid;
      default:
        return ReadinessResult::kTransientError;
    }
  }
  if (pfd.revents & POLLNVAL) return ReadinessResult::kClosed;
  return ReadinessResult::kReadable;
}

void CloseSocket(int& fd) {
  if (fd != kInvalidSocket) {
    close(fd);
    fd = kInvalidSocket;
  }
}

std::string AddressToString(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace orbisan
