#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtsp/rtp_client.h"
#include "rtsp/rtp_packet.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace orbisan {

// What a packet receiver hands to its owner, on the receiver's socket or
// queue thread, one at a time (the two notifications come from the socket thread).
class IRTPReceiverUser {
 public:
  virtual ~IRTPReceiverUser() = default;
  virtual void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) = 0;
  virtual void ReceiveTimeout() = 0;
  virtual void ClientClosed() = 0;
  // The queue ran empty (or nothing came for a while): time to end what
  // waits for a later packet. Returns the milliseconds after which it wants
  // to be asked again if nothing arrives (0: no wish).
  virtual uint32_t QueueIdle() { return 0; }
};

// Receives RTP datagrams on one UDP port, checks them on the socket thread
// and delivers them in arrival order. Datagrams are read straight into a
// set of reused slots (no allocation and no copy per packet) and parsed in
// place. While the user keeps up, the socket thread hands each batch on
// itself (no thread switch, and only a batch of slots in use); once the user
// falls behind, packets wait in a bounded queue for the queue thread, and
// when the user holds the socket thread up (a host's frame sink that does
// not return), the queue thread takes over the reads, so that the socket is
// still drained: the oldest packets are then dropped and counted, and the
// stream shows the gap. Packets, QueueIdle included, go to the user from one
// thread at a time and in arrival order. The queue thread is woken once per
// frame (at the marker bit or a new timestamp; at the latest 10 ms after a
// packet), not per packet.
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
  // Packets waiting for the queue thread beyond this are dropped, oldest
  // first; so are large ones beyond this many times kSlotBytes (at least
  // kDefaultSocketBuffer bytes).
  void SetQueueLimit(size_t packets) { queueLimit_.store(packets == 0 ? 1 : packets); }
  uint64_t DroppedPackets() const { return droppedPackets_.load(); }
  // Only datagrams from this IPv4 address (network order; 0: any) are
  // queued, checked on the socket thread so that a flood from elsewhere
  // never takes the camera's place in the queue.
  void SetSource(uint32_t address) { source_.store(address); }
  // Bytes the slots hold (for checks of the memory bound).
  size_t SlotMemory();
  // What a slot normally holds, and how many may be larger at a time.
  static constexpr size_t kSlotBytes = 2048;
  static constexpr size_t kMaxBigSlots = 16;

  static constexpr uint32_t kDefaultSocketBuffer = 4 * 1024 * 1024;
  // About two seconds of an 8 Mbit/s stream, on top of the socket buffer.
  static constexpr size_t kDefaultQueueLimit = 1024;

  void DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) override;
  void ReceiveTimeout(IRTPClient* client) override;
  void ClientClosed(IRTPClient* client) override;
  size_t LendBuffers(IRTPClient* client, size_t bytes, uint8_t** buffers, size_t count) override;
  void BuffersFilled(IRTPClient* client, uint8_t* const* buffers, const size_t* lengths, const sockaddr_in* sources,
                     size_t count) override;
  void ReadDone(IRTPClient* client, bool drained) override;
  // A user call on the socket thread that lasts this long lets the queue thread read instead.
  static constexpr uint32_t kTakeOverMs = 100;

 protected:
  uint32_t ThreadFunction() override;

 private:
  // One datagram waiting for the queue thread. A slot's buffer keeps its
  // capacity, and freed slots are reused most recent first, so only as many
  // slots as the queue really needs ever take memory.
  struct Slot {
    sockaddr_in source;
    size_t length;
    size_t capacity;
    std::unique_ptr<uint8_t[]> bytes;
  };
  // Room for `wanted` bytes in the slot (allocated on its first use); under lock_.
  uint8_t* Reserve(Slot& slot, size_t wanted);
  // Back to the free stack; under lock_.
  void FreeSlot(uint32_t index);
  // Frees the oldest queued slot (not counted as dropped here); under lock_.
  void DropOldest();
  bool FromSource(const sockaddr_in& from) const {
    const uint32_t wanted = source_.load(std::memory_order_relaxed);
    return wanted == 0 || from.sin_addr.s_addr == wanted;
  }
  // Slots the queue thread takes per pass, and the socket thread per read.
  static constexpr size_t kTakeAtOnce = 64;
  static constexpr size_t kLendAtOnce = 64;

  // Who hands packets to the user now; changed under lock_.
  enum Deliverer : int { kNobody, kSocketThread, kQueueThread };
  // Frees the slots the socket thread handed on itself; under lock_.
  void FreeInline();
  // The queue thread reads while the socket thread is held up by the user.
  void TakeOverReads();
  // Asks the user whether it waits for something (QueueIdle) and notes when to ask again.
  void AskIdle();

  bool StartClient(const std::string* group, uint16_t port);
  // Sizes the slots for the queue limit; only while no thread runs.
  void PrepareSlots();
  // Whether the queue thread must look now: a frame is complete (marker, or
  // a new timestamp after a frame without one), or the queue fills up.
  bool FrameBoundary(const CRTPPacket& packet);
  // Puts a filled slot at the end of the queue, dropping the oldest beyond
  // the limit; under lock_. True when the queue thread must be woken.
  bool QueueSlot(uint32_t index, bool& runStarts, bool& runEnds, uint64_t& runDropped);
  void ClearQueue();
  void LogGrantedBuffer(uint32_t granted, uint32_t asked);
  void LogDropRun(bool starts, uint64_t dropped);

  IRTPReceiverUser* user_;
  CRecursiveLock lock_;
  TSmartPtr<IRTPClient> client_;
  // The running client, compared against the sender of every callback.
  std::atomic<IRTPClient*> ownClient_{nullptr};
  // Guarded by lock_: the slots, the free ones (a stack) and the queued ones
  // in arrival order (a ring of slot indices).
  std::vector<Slot> slots_;
  std::vector<uint32_t> free_;
  std::vector<uint32_t> queued_;
  size_t queuedHead_ = 0;
  size_t queuedCount_ = 0;
  size_t queuedBytes_ = 0;
  // Socket thread only: the slots lent to the client, the packet being
  // checked and the previous one's frame.
  uint32_t lent_[kLendAtOnce];
  // The slots the socket thread hands on itself after the read (socket thread only).
  uint32_t inline_[kLendAtOnce];
  size_t inlineCount_ = 0;
  std::atomic<int> deliverer_{kNobody};
  std::atomic<uint64_t> inlineSinceMs_{0};  // steady time the socket thread's hand-on began
  std::atomic<uint64_t> idleDueMs_{0};      // steady time QueueIdle is due again (0: no wish)
  CRTPPacket check_;
  uint32_t lastTimestamp_ = 0;
  bool lastHadMarker_ = true;
  uint64_t waitingSinceMs_ = 0;  // steady time of the oldest packet queued without a wake
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
  std::atomic<uint32_t> source_{0};
  size_t bigSlots_ = 0;  // guarded by lock_
};

}  // namespace orbisan
