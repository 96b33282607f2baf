#include "rtsp/udp_client.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/socket_utils.h"
#include "runtime/format.h"
#include "runtime/page_allocator.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kDefaultReceiveBuffer = 65535;
constexpr uint32_t kReceiveTimeoutMs = 5000;
constexpr uint32_t kSendTimeoutMs = 1000;
constexpr uint32_t kMaxDatagram = 65535;
// The spill block's pages are kept this long after a large datagram.
constexpr uint64_t kSpillKeepMs = 2000;

}  // namespace

CUDPClient::CUDPClient() = default;

CUDPClient::~CUDPClient() {
  Close();
  if (read_.spill != nullptr) munmap(read_.spill, read_.spillBytes);
}

bool CUDPClient::Open(IRTPClientUser* user, uint16_t port) {
  return OpenSocket(user, nullptr, port, socketReceiveBuffer_.load(), kReceiveTimeoutMs, kSendTimeoutMs);
}

bool CUDPClient::OpenMulticast(IRTPClientUser* user, const std::string& group, uint16_t port) {
  in_addr address{};
  if (!ParseIPv4(group, address)) {
    Close();
    return false;
  }
  return OpenSocket(user, &address, port, socketReceiveBuffer_.load(), kReceiveTimeoutMs, kSendTimeoutMs);
}

bool CUDPClient::OpenSocket(IRTPClientUser* user, const in_addr* group, uint16_t port, uint32_t receiveBuffer,
                            uint32_t receiveTimeoutMs, uint32_t sendTimeoutMs) {
  {
    CAutoLock guard(lock_);
    // A second open fails without taking the running socket from its user.
    if (socket_ != kInvalidSocket) return false;
    user_.store(user);

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    bool ok = true;
    if (group != nullptr) {
      const int on = 1;
      ok = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
    }
    ok = ok && SetReceiveBufferSize(fd, receiveBuffer == 0 ? kDefaultReceiveBuffer : receiveBuffer);
    if (ok && receiveTimeoutMs != 0) ok = SetReceiveTimeoutMs(fd, receiveTimeoutMs);
    if (ok && sendTimeoutMs != 0) ok = SetSendTimeoutMs(fd, sendTimeoutMs);
    if (ok) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = htonl(INADDR_ANY);
      local.sin_port = htons(port);
      ok = bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    if (ok && group != nullptr) {
      ip_mreq request{};
      request.imr_multiaddr = *group;
      request.imr_interface.s_addr = htonl(INADDR_ANY);
      ok = setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
    }
    if (!ok) {
      CloseSocket(fd);
      return false;
    }
    grantedReceiveBuffer_.store(GetReceiveBufferSize(fd));
    socket_ = fd;
    port_ = port;
    multicast_ = group != nullptr;
    if (multicast_) group_ = *group;
    socketTimeoutMs_ = std::max(receiveTimeoutMs, sendTimeoutMs);
  }
  if (!StartThread(Format("UDP client thread, port %u", static_cast<unsigned>(port)))) {
    Close();
    return false;
  }
  return true;
}

bool CUDPClient::Close() {
  StopEvent().Set();
  int oldSocket = kInvalidSocket;
  uint32_t socketTimeoutMs = 0;
  {
    CAutoLock guard(lock_);
    if (socket_ != kInvalidSocket) {
      if (multicast_) {
        ip_mreq request{};
        request.imr_multiaddr = group_;
        request.imr_interface.s_addr = htonl(INADDR_ANY);
        setsockopt(socket_, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request);
      }
      // Wakes a receive or poll that is blocked on the socket.
      shutdown(socket_, SHUT_RDWR);
      oldSocket = socket_;
    }
    socket_ = kInvalidSocket;
    port_ = 0;
    multicast_ = false;
    socketTimeoutMs = socketTimeoutMs_;
  }
  const uint32_t waitMs = std::max<uint32_t>(std::max(socketTimeoutMs, pollTimeMs_.load()) + 1000, 5000);
  JoinThread(waitMs);
  if (oldSocket == kInvalidSocket) return true;

  {
    // A read from another thread (ReadNow) ends before the socket does.
    std::lock_guard<std::mutex> reading(readMutex_);
    uint8_t scratch[1500];
    for (int i = 0; i < 100; ++i) {
      if (recv(oldSocket, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) break;
    }
    CloseSocket(oldSocket);
  }
  if (IRTPClientUser* user = user_.load()) {
    try {
      user->ClientClosed(this);
    } catch (...) {
    }
  }
  return true;
}

void CUDPClient::SetBufferSize(uint32_t bytes) { bufferSize_.store(bytes); }

void CUDPClient::SetTimeout(uint32_t milliseconds) { pollTimeMs_.store(milliseconds); }

void CUDPClient::SetBatchSize(uint32_t datagrams) { batchSize_.store(std::clamp<uint32_t>(datagrams, 1, kMaxBatch)); }

uint16_t CUDPClient::GetPort() {
  CAutoLock guard(lock_);
  return port_;
}

bool CUDPClient::IsOpen() {
  CAutoLock guard(lock_);
  return socket_ != kInvalidSocket;
}

bool CUDPClient::SendTo(const sockaddr_in& destination, const uint8_t* data, size_t length) {
  CAutoLock guard(lock_);
  if (socket_ == kInvalidSocket) return false;
  const ssize_t sent =
      sendto(socket_, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  return sent == static_cast<ssize_t>(length);
}

bool CUDPClient::WaitForData(int fd) {
  for (;;) {
    if (IsStopping()) return false;
    switch (WaitReadable(fd, pollTimeMs_.load())) {
      case ReadinessResult::kReadable:
        return !IsStopping();
      case ReadinessResult::kTimeout:
        if (!IsStopping()) {
          if (IRTPClientUser* user = user_.load()) {
            try {
              user->ReceiveTimeout(this);
            } catch (...) {
            }
          }
        }
        break;
      case ReadinessResult::kClosed:
        if (IRTPClientUser* user = user_.load()) {
          try {
            user->ClientClosed(this);
          } catch (...) {
          }
        }
        return false;
      case ReadinessResult::kInvalid:
        return false;
      case ReadinessResult::kTransientError:
        break;
    }
  }
}

uint32_t CUDPClient::ThreadFunction() {
  int fd;
  {
    CAutoLock guard(lock_);
    fd = socket_;
  }
  // The socket stays open until this thread has ended (Close joins first).
  if (fd == kInvalidSocket) return 0;
  while (WaitForData(fd)) {
    // A sender writes a frame as a burst of datagrams; woken by its first
    // one, this thread would otherwise wake again for nearly every other.
    if (const uint32_t waitUs = burstWaitUs_.load()) {
      const timespec pause{0, static_cast<long>(std::min<uint32_t>(waitUs, 100000)) * 1000};
      nanosleep(&pause, nullptr);
    }
    // Drain what the socket holds before polling again: one poll per burst
    // instead of one per datagram. Bounded so a stop is seen promptly.
    for (int round = 0; round < 64 && !IsStopping(); ++round) {
      int received;
      size_t slots;
      {
        std::lock_guard<std::mutex> reading(readMutex_);
        received = ReadBatch(fd);
        slots = read_.batch;
      }
      // nothing more for now (or an error the next poll reports), or the socket is empty
      const bool drained = received <= 0 || static_cast<size_t>(received) < slots;
      if (IRTPClientUser* user = user_.load()) {
        try {
          user->ReadDone(this, drained);
        } catch (...) {
        }
      }
      if (drained) break;
    }
    std::lock_guard<std::mutex> reading(readMutex_);
    ReleaseSpillIfIdle();
  }
  return 0;
}

bool CUDPClient::ReadNow(uint32_t waitMs) {
  std::lock_guard<std::mutex> reading(readMutex_);
  int fd;
  {
    CAutoLock guard(lock_);
    fd = socket_;
  }
  // Close takes readMutex_ before the socket is closed: it stays open here.
  if (fd == kInvalidSocket || WaitReadable(fd, waitMs) != ReadinessResult::kReadable) return false;
  return ReadBatch(fd) > 0;
}

size_t CUDPClient::SpillResident() {
  std::lock_guard<std::mutex> reading(readMutex_);
  return read_.spill == nullptr ? 0 : ResidentBytes(read_.spill, read_.spillBytes);
}

void CUDPClient::ReleaseSpillIfIdle() {
  if (read_.spillUsedMs == 0 || SteadyMs() - read_.spillUsedMs < kSpillKeepMs) return;
  madvise(read_.spill, read_.spillBytes, MADV_DONTNEED);
  read_.spillUsedMs = 0;
}

int CUDPClient::ReadBatch(int fd) {
  ReadState& r = read_;
  const size_t batch = batchSize_.load();
  const size_t wanted = std::min(std::max<uint32_t>(bufferSize_.load(), 1), kMaxDatagram);
  if (batch != r.batch || r.spill == nullptr) {
    if (r.spill != nullptr) munmap(r.spill, r.spillBytes);
    r.batch = batch;
    r.spillBytes = kMaxDatagram * batch;
    void* pages = mmap(nullptr, r.spillBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    r.spill = pages == MAP_FAILED ? nullptr : static_cast<uint8_t*>(pages);
    r.spillUsedMs = 0;
    r.each = 0;
    if (r.spill == nullptr) return -1;
  }
  if (wanted != r.each) {
    r.each = wanted;
    r.buffers.reset();
  }
  const size_t each = r.each;
  IRTPClientUser* user = user_.load();
  uint8_t* targets[kMaxBatch];
  const size_t lent = user ? std::min(user->LendBuffers(this, each, targets, batch), batch) : 0;
  // A user that lends its own buffers never needs the client's.
  if (lent == 0 && !r.buffers) r.buffers.reset(new uint8_t[each * batch]);
  const size_t slots = lent != 0 ? lent : batch;
  for (size_t i = 0; i < slots; ++i) {
    if (lent == 0) targets[i] = r.buffers.get() + i * each;
    r.vectors[i][0] = {targets[i], each};
    r.vectors[i][1] = {r.spill + i * kMaxDatagram + each, kMaxDatagram - each};
    r.messages[i].msg_hdr = {};
    r.messages[i].msg_hdr.msg_name = &r.sources[i];
    r.messages[i].msg_hdr.msg_namelen = sizeof r.sources[i];
    r.messages[i].msg_hdr.msg_iov = r.vectors[i];
    r.messages[i].msg_hdr.msg_iovlen = 2;
    r.messages[i].msg_len = 0;
  }
  const int received = recvmmsg(fd, r.messages, static_cast<unsigned>(slots), MSG_DONTWAIT, nullptr);
  size_t lengths[kMaxBatch];
  for (size_t i = 0; i < slots; ++i) {
    lengths[i] = 0;
    if (static_cast<int>(i) >= received || IsStopping()) continue;
    // Not for IPv4 datagrams, which all fit; never handed on cut short.
    if (r.messages[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
    lengths[i] = r.messages[i].msg_len;
    if (lengths[i] > each) {
      // Put together in the block; a lender is handed this copy to keep.
      uint8_t* whole = r.spill + i * kMaxDatagram;
      std::memcpy(whole, targets[i], each);
      targets[i] = whole;
      r.spillUsedMs = SteadyMs();
    }
    if (lent != 0 || lengths[i] == 0 || user == nullptr) continue;
    try {
      user->DataReceived(this, r.sources[i], targets[i], lengths[i]);
    } catch (...) {
    }
  }
  if (lent != 0) {
    try {
      user->BuffersFilled(this, targets, lengths, r.sources, lent);
    } catch (...) {
    }
  }
  // Fewer slots than a batch (a lender short of them) count as a full read.
  return received > 0 && static_cast<size_t>(received) == slots ? static_cast<int>(batch) : received;
}

}  // namespace orbisan
