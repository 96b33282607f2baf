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
// slow depacketizer never holds up the socket.
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

  IRTPReceiverUser* user_;
  CRecursiveLock lock_;
  TSmartPtr<IRTPClient> client_;
  // The running client, compared against the sender of every callback.
  std::atomic<IRTPClient*> ownClient_{nullptr};
  std::deque<Item*> queue_;
  CEvent dataQueued_{false};
  // Items the queue thread has taken and not yet handed on.
  std::atomic<size_t> inBatch_{0};
};

}  // namespace orbisan
