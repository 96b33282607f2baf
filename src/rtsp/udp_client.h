#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "rtsp/rtp_client.h"
#include "runtime/base_thread.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// A UDP socket with its own receive thread ("UDP client thread, port %u").
// Datagrams are read in batches of up to SetBatchSize at a time (one system
// call for a burst) and go to the user one by one from that thread. Each is
// read into a buffer of SetBufferSize bytes; a larger one, up to the largest
// a UDP datagram can be, is put together in the client's own memory.
class CUDPClient : public CBaseThread, public IRTPClient {
 public:
  CUDPClient();
  ~CUDPClient() override;

  bool OpenMulticast(IRTPClientUser* user, const std::string& group, uint16_t port) override;
  bool Open(IRTPClientUser* user, uint16_t port) override;
  bool Close() override;
  void SetBufferSize(uint32_t bytes) override;
  void SetTimeout(uint32_t milliseconds) override;
  uint16_t GetPort() override;

  // Sends one datagram from the bound socket (receiver reports leave from
  // the RTCP port the camera was told about). False when closed or not sent whole.
  bool SendTo(const sockaddr_in& destination, const uint8_t* data, size_t length);
  bool IsOpen();
  uint32_t GetBufferSize() const { return bufferSize_.load(); }
  // The socket receive buffer the next open asks for (0: 64 KiB), and what
  // the system granted the open socket (it caps requests silently).
  void SetSocketReceiveBuffer(uint32_t bytes) { socketReceiveBuffer_.store(bytes); }
  uint32_t GetGrantedReceiveBuffer() const { return grantedReceiveBuffer_.load(); }
  // Datagrams read per system call (1 to kMaxBatch), for the next open.
  void SetBatchSize(uint32_t datagrams);
  static constexpr uint32_t kMaxBatch = 64;
  // After the socket turns readable, wait this long before reading, so that
  // the rest of a burst is read with the same wake-up (0: read at once).
  void SetBurstWait(uint32_t microseconds) { burstWaitUs_.store(microseconds); }
  // Reads one batch from another thread than the client's (while that one
  // is held up by its user), waiting up to waitMs for the socket to turn
  // readable. Reads of both threads are one at a time, in socket order; no
  // ReadDone follows this one. False when closed or nothing came.
  bool ReadNow(uint32_t waitMs);
  // Bytes of the spill block that hold pages now (for checks of its release).
  size_t SpillResident();

 protected:
  uint32_t ThreadFunction() override;

 private:
  bool OpenSocket(IRTPClientUser* user, const in_addr* group, uint16_t port, uint32_t receiveBuffer,
                  uint32_t receiveTimeoutMs, uint32_t sendTimeoutMs);
  // True to go on receiving, false when the thread must end.
  bool WaitForData(int fd);
  // One recvmmsg into the user's lent buffers (or the client's own) and the
  // hand-over; under readMutex_. The number read, or -1 on an error.
  int ReadBatch(int fd);
  // The spill block's pages go back after a quiet while; under readMutex_.
  void ReleaseSpillIfIdle();

  // What a read needs, kept between reads; guarded by readMutex_.
  struct ReadState {
    size_t batch = 0;
    size_t each = 0;
    // Made on the first read without a lender; not zero-filled: a batch slot
    // takes memory only once a datagram lands in it.
    std::unique_ptr<uint8_t[]> buffers;
    // What a datagram brings beyond `each` bytes lands in its message's part
    // of this block (reserved pages, behind room for the first `each`): only
    // a large datagram touches them, and they go back when none came for a while.
    uint8_t* spill = nullptr;
    size_t spillBytes = 0;
    uint64_t spillUsedMs = 0;  // 0: no page of it touched since the last release
    mmsghdr messages[kMaxBatch];
    iovec vectors[kMaxBatch][2];
    sockaddr_in sources[kMaxBatch];
  };
  std::mutex readMutex_;
  ReadState read_;

  CRecursiveLock lock_;
  int socket_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint32_t> bufferSize_{8192};
  std::atomic<uint32_t> pollTimeMs_{2000};
  std::atomic<uint32_t> socketReceiveBuffer_{0};
  std::atomic<uint32_t> grantedReceiveBuffer_{0};
  std::atomic<uint32_t> batchSize_{1};
  std::atomic<uint32_t> burstWaitUs_{0};
  bool multicast_ = false;
  in_addr group_{};
  uint32_t socketTimeoutMs_ = 0;
  std::atomic<IRTPClientUser*> user_{nullptr};
};

}  // namespace orbisan
