#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "rtsp/rtp_client.h"
#include "rtsp/rtp_packet.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace orbisan {

// What a packet receiver hands to its owner, on the receiver's queue thread
// (the two notifications come from the UDP thread).
class IRTPReceiverUser {
 public:
  virtual ~IRTPReceiverUser() = default;
  virtual void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) = 0;
  virtual void ReceiveTimeout() = 0;
  virtual void ClientClosed() = 0;
};

// Receives RTP datagrams on one UDP port, parses them on the socket thread
// and delivers them in arrival order from its own queue thread, so that a
// slow depacketizer never holds up the socket. The queue is bounded: while
// the user is blocked (a host's frame sink that does not return) the oldest
// packets are dropped and counted, and the stream shows the gap.
class CRTPReceiver : public IRTPClientUser, public CBaseThread {
 public:
  explicit CRTPReceiver(IRTPReceiverUser* user, IDebugMessage* owner = nullptr);
  ~CRTPReceiver() override;

  bool Start(uint16_t port);
  bool StartMulticast(const std::string& group, uint16_t port);
  void Stop();
  // Port of the running client; 0 when stopped.
  uint16_t GetPort();
  size_t QueuedCount();

  // Socket receive buffer asked for at the next start (0: kDefaultSocketBuffer).
  // A key frame of an HD stream arrives as one burst of a few hundred
  // kilobytes that must fit while the socket thread is not scheduled.
  void SetSocketReceiveBuffer(uint32_t bytes) { socketBuffer_.store(bytes); }
  // Packets waiting for the queue thread beyond this are dropped, oldest first.
  void SetQueueLimit(size_t packets) { queueLimit_.store(packets == 0 ? 1 : packets); }
  uint64_t DroppedPackets() const { return droppedPackets_.load(); }

  static constexpr uint32_t kDefaultSocketBuffer = 4 * 1024 * 1024;
  // About six seconds of an 8 Mbit/s stream.
  static constexpr size_t kDefaultQueueLimit = 4096;

  void DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) override;
  void ReceiveTimeout(IRTPClient* client) override;
  void ClientClosed(IRTPClient* client) override;

 protected:
  uint32_t ThreadFunction() override;

 private:
  struct Item {
    sockaddr_in source;
    CRTPPacket packet;
  };

  bool StartClient(const std::string* group, uint16_t port);
  void ClearQueue();
  void LogGrantedBuffer(uint32_t granted, uint32_t asked);
  void LogDropRun(bool starts, uint64_t dropped);

  IRTPReceiverUser* user_;
  CRecursiveLock lock_;
  TSmartPtr<IRTPClient> client_;
  // The running client, compared against the sender of every callback.
  std::atomic<IRTPClient*> ownClient_{nullptr};
  std::deque<Item*> queue_;
  CEvent dataQueued_{false};
  // Items the queue thread has taken and not yet handed on.
  std::atomic<size_t> inBatch_{0};
  IDebugMessage* owner_;
  std::atomic<uint32_t> socketBuffer_{0};
  std::atomic<size_t> queueLimit_{kDefaultQueueLimit};
  std::atomic<uint64_t> droppedPackets_{0};
  uint64_t droppedAtRunStart_ = 0;  // guarded by lock_
  bool dropping_ = false;           // guarded by lock_
  std::atomic<bool> bufferLogged_{false};
};

}  // namespace orbisan
