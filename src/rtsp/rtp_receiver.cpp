#include "rtsp/rtp_receiver.h"

#include <algorithm>
#include <cstring>

#include "rtsp/udp_client.h"
#include "runtime/format.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kReceiveBufferBytes = 1536;
constexpr uint32_t kPollTimeMs = 2000;
// Datagrams per read: a burst of a key frame in few system calls.
constexpr uint32_t kReadBatch = 32;
// How long the socket thread lets a burst arrive before reading it: a frame
// costs it two or three wake-ups instead of one per datagram or two.
constexpr uint32_t kBurstWaitUs = 1000;
// An unfinished frame this long, or a packet waiting this long, wakes the
// queue thread anyway (streams without markers, senders that pace a frame).
constexpr size_t kWakeEveryPackets = 128;
constexpr uint64_t kWakeAfterMs = 10;
// Set while the queue thread reads for a socket thread that the user holds up.
thread_local bool tTakingOver = false;

}  // namespace

CRTPReceiver::CRTPReceiver(IRTPReceiverUser* user, IDebugMessage* owner)
    : CBaseThread(owner), user_(user), owner_(owner) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) { return StartClient(nullptr, port); }

bool CRTPReceiver::StartMulticast(const std::string& group, uint16_t port) { return StartClient(&group, port); }

bool CRTPReceiver::StartClient(const std::string* group, uint16_t port) {
  Stop();
  auto* udp = new CUDPClient();
  const uint32_t asked = socketBuffer_.load() != 0 ? socketBuffer_.load() : kDefaultSocketBuffer;
  udp->SetSocketReceiveBuffer(asked);
  udp->SetBufferSize(kReceiveBufferBytes);
  udp->SetTimeout(kPollTimeMs);
  udp->SetBatchSize(kReadBatch);
  udp->SetBurstWait(kBurstWaitUs);
  PrepareSlots();
  {
    CAutoLock guard(lock_);
    client_.Reset(udp);
  }
  // The UDP thread may deliver before Start returns; the queue thread is
  // started below and finds whatever arrived meanwhile.
  StopEvent().Reset();
  ownClient_.store(udp);
  const bool opened = group ? udp->OpenMulticast(this, *group, port) : udp->Open(this, port);
  if (!opened) {
    Stop();
    return false;
  }
  LogGrantedBuffer(udp->GetGrantedReceiveBuffer(), asked);
  ClearQueue();
  if (!StartThread(Format("RTP Packet Queue (%hu)", port))) {
    Stop();
    return false;
  }
  return true;
}

void CRTPReceiver::Stop() {
  StopEvent().Set();
  TSmartPtr<IRTPClient> client;
  {
    CAutoLock guard(lock_);
    client = client_;
  }
  // Closed outside the lock: the UDP thread may be waiting for it in DataReceived.
  if (client) client->Close();
  {
    CAutoLock guard(lock_);
    ownClient_.store(nullptr);
    client_.Release();
    client.Release();
  }
  ClearQueue();
  StopThread(2000);
}

uint16_t CRTPReceiver::GetPort() {
  CAutoLock guard(lock_);
  return client_ ? client_->GetPort() : 0;
}

size_t CRTPReceiver::QueuedCount() {
  CAutoLock guard(lock_);
  return queuedCount_ + inBatch_.load() + (deliverer_.load() == kSocketThread ? inlineCount_ : 0);
}

void CRTPReceiver::PrepareSlots() {
  CAutoLock guard(lock_);
  // The socket thread's batch may be with the user while the queue thread lends another.
  const size_t count = queueLimit_.load() + kTakeAtOnce + 2 * kLendAtOnce;
  if (slots_.size() != count) {
    slots_.clear();
    slots_.resize(count);
    bigSlots_ = 0;
    slots_.shrink_to_fit();
    queued_.assign(count, 0);
  }
  queuedHead_ = queuedCount_ = queuedBytes_ = 0;
  free_.clear();
  free_.reserve(count);
  for (size_t i = count; i-- > 0;) free_.push_back(static_cast<uint32_t>(i));
  lastHadMarker_ = true;
  waitingSinceMs_ = 0;
  inlineCount_ = 0;
  deliverer_.store(kNobody);
  idleDueMs_.store(0);
}

void CRTPReceiver::ClearQueue() {
  CAutoLock guard(lock_);
  while (queuedCount_ > 0) DropOldest();
  dropping_ = false;
}

void CRTPReceiver::DropOldest() {
  const uint32_t index = queued_[queuedHead_];
  queuedBytes_ -= slots_[index].length;
  FreeSlot(index);
  queuedHead_ = (queuedHead_ + 1) % queued_.size();
  --queuedCount_;
}

void CRTPReceiver::LogGrantedBuffer(uint32_t granted, uint32_t asked) {
  if (owner_ == nullptr || granted >= asked || bufferLogged_.exchange(true)) return;
  owner_->DebugMessage(kLogTrace,
                       "%s: UDP receive buffer of %u bytes granted instead of %u (the system's maximum, "
                       "net.core.rmem_max, caps it); HD key frames may overflow it, device %s",
                       "orbisan::CRTPReceiver::Start", granted, asked, owner_->GetDeviceName().c_str());
}

void CRTPReceiver::LogDropRun(bool starts, uint64_t dropped) {
  if (owner_ == nullptr) return;
  if (starts) {
    owner_->DebugMessage(kLogWarning,
                         "%s: RTP packet queue full (%zu packets), the frame sink does not keep up: dropping the "
                         "oldest packets, device %s",
                         "orbisan::CRTPReceiver::DataReceived", queueLimit_.load(), owner_->GetDeviceName().c_str());
  } else {
    owner_->DebugMessage(kLogInfo, "%s: RTP packet queue drains again after %llu packets were dropped, device %s",
                         "orbisan::CRTPReceiver::DataReceived", static_cast<unsigned long long>(dropped),
                         owner_->GetDeviceName().c_str());
  }
}

bool CRTPReceiver::FrameBoundary(const CRTPPacket& packet) {
  const bool newFrame = !lastHadMarker_ && packet.GetTimestamp() != lastTimestamp_;
  lastHadMarker_ = packet.GetMarker() != 0;
  lastTimestamp_ = packet.GetTimestamp();
  const uint64_t now = SteadyMs();
  const bool wake = lastHadMarker_ || newFrame || queuedCount_ % kWakeEveryPackets == 0 ||
                    (waitingSinceMs_ != 0 && now - waitingSinceMs_ >= kWakeAfterMs);
  waitingSinceMs_ = wake ? 0 : (waitingSinceMs_ != 0 ? waitingSinceMs_ : now);
  return wake;
}

uint8_t* CRTPReceiver::Reserve(Slot& slot, size_t wanted) {
  if (slot.capacity < wanted) {
    if (slot.capacity <= kSlotBytes && wanted > kSlotBytes) ++bigSlots_;
    // Normal slots take a little more than asked, so that they are sized once.
    const size_t size = std::max(wanted, kSlotBytes);
    slot.bytes.reset(new uint8_t[size]);
    slot.capacity = size;
  }
  return slot.bytes.get();
}

void CRTPReceiver::FreeSlot(uint32_t index) {
  Slot& slot = slots_[index];
  // Slots grown for large datagrams are given back beyond a few, so that a
  // burst of them does not leave every slot at 64 KiB.
  if (slot.capacity > kSlotBytes && bigSlots_ > kMaxBigSlots) {
    slot.bytes.reset();
    slot.capacity = 0;
    --bigSlots_;
  }
  free_.push_back(index);
}

size_t CRTPReceiver::SlotMemory() {
  CAutoLock guard(lock_);
  size_t total = 0;
  for (const Slot& slot : slots_) total += slot.capacity;
  return total;
}

bool CRTPReceiver::QueueSlot(uint32_t index, bool& runStarts, bool& runEnds, uint64_t& runDropped) {
  const size_t limit = std::min(queueLimit_.load(), slots_.size() - kTakeAtOnce - 2 * kLendAtOnce);
  // Large datagrams are bounded by their bytes too: never less than the
  // socket buffer held, and normal packets meet the count limit first.
  const size_t byteLimit = std::max(limit * kSlotBytes, size_t{kDefaultSocketBuffer});
  const size_t length = slots_[index].length;
  size_t dropped = 0;
  while (queuedCount_ > 0 && (queuedCount_ >= limit || queuedBytes_ + length > byteLimit)) {
    DropOldest();
    ++dropped;
  }
  if (dropped != 0) {
    droppedPackets_.fetch_add(dropped);
    if (!dropping_) {
      dropping_ = runStarts = true;
      droppedAtRunStart_ = droppedPackets_.load() - dropped;
    }
  } else if (dropping_ && queuedCount_ < limit / 2) {
    // Half empty again: the sink caught up, the run of drops is over.
    dropping_ = false;
    runEnds = true;
    runDropped = droppedPackets_.load() - droppedAtRunStart_;
  }
  queued_[(queuedHead_ + queuedCount_) % queued_.size()] = index;
  ++queuedCount_;
  queuedBytes_ += length;
  return FrameBoundary(check_);
}

void CRTPReceiver::DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) {
  if (client == nullptr || client != ownClient_.load() || !FromSource(source)) return;
  // Only checked here (header fields, no copy); the queue thread parses again in place.
  if (!check_.ParseInPlace(data, length) || IsStopping()) return;
  bool wake = false, runStarts = false, runEnds = false;
  uint64_t runDropped = 0;
  {
    CAutoLock guard(lock_);
    if (free_.empty() && queuedCount_ > 0) {  // every free slot is with the queue thread
      DropOldest();
      droppedPackets_.fetch_add(1);
    }
    if (free_.empty()) return;
    const uint32_t index = free_.back();
    free_.pop_back();
    Slot& slot = slots_[index];
    std::memcpy(Reserve(slot, length), data, length);
    slot.length = length;
    slot.source = source;
    wake = QueueSlot(index, runStarts, runEnds, runDropped);
  }
  if (runStarts || runEnds) LogDropRun(runStarts, runDropped);
  if (wake) dataQueued_.Set();
}

size_t CRTPReceiver::LendBuffers(IRTPClient* client, size_t bytes, uint8_t** buffers, size_t count) {
  if (client == nullptr || client != ownClient_.load()) return 0;
  count = std::min(count, kLendAtOnce);
  // Large datagrams are read a few at a time: the slots they need stay few.
  if (bytes > kSlotBytes) count = std::min(count, std::max<size_t>(1, kMaxBigSlots / 2));
  size_t lent = 0;
  CAutoLock guard(lock_);
  // The slots for this are set aside (queue limit + the queue thread's + these).
  for (; lent < count && !free_.empty(); ++lent) {
    lent_[lent] = free_.back();
    free_.pop_back();
    buffers[lent] = Reserve(slots_[lent_[lent]], bytes);
  }
  return lent;
}

void CRTPReceiver::BuffersFilled(IRTPClient* client, uint8_t* const* buffers, const size_t* lengths,
                                 const sockaddr_in* sources, size_t count) {
  (void)client;
  bool wake = false, runStarts = false, runEnds = false;
  uint64_t runDropped = 0;
  {
    CAutoLock guard(lock_);
    // Nothing waits and nobody hands on: this thread hands the batch on
    // itself after the read (ReadDone), never the queue thread's reads.
    const bool handOn = !tTakingOver && queuedCount_ == 0 && deliverer_.load() == kNobody;
    for (size_t i = 0; i < count; ++i) {
      Slot& slot = slots_[lent_[i]];
      // Only checked here (header fields, no copy); the packet is parsed again in place when handed on.
      if (lengths[i] == 0 || IsStopping() || !FromSource(sources[i]) || !check_.ParseInPlace(buffers[i], lengths[i])) {
        FreeSlot(lent_[i]);
        continue;
      }
      // Larger than lent: the client's copy, kept in a slot of its size.
      if (buffers[i] != slot.bytes.get()) std::memcpy(Reserve(slot, lengths[i]), buffers[i], lengths[i]);
      slot.length = lengths[i];
      slot.source = sources[i];
      if (handOn) {
        inline_[inlineCount_++] = lent_[i];
      } else {
        wake = QueueSlot(lent_[i], runStarts, runEnds, runDropped) || wake;
      }
    }
    if (inlineCount_ != 0) {
      deliverer_.store(kSocketThread);
      inlineSinceMs_.store(SteadyMs());
      // The frame these belong to continues in the queue if the user falls behind.
      lastHadMarker_ = check_.GetMarker() != 0;
      lastTimestamp_ = check_.GetTimestamp();
    }
  }
  if (runStarts || runEnds) LogDropRun(runStarts, runDropped);
  if (wake) dataQueued_.Set();
}

void CRTPReceiver::ReadDone(IRTPClient* client, bool drained) {
  if (inlineCount_ == 0) return;
  if (client == ownClient_.load() && user_ != nullptr) {
    CRTPPacket packet;
    for (size_t i = 0; i < inlineCount_ && !IsStopping(); ++i) {
      const Slot& slot = slots_[inline_[i]];
      if (!packet.ParseInPlace(slot.bytes.get(), slot.length)) continue;
      try {
        user_->RtpPacketArrived(slot.source, packet);
      } catch (...) {
      }
    }
    if (drained && !IsStopping()) AskIdle();
  }
  bool wake;
  {
    CAutoLock guard(lock_);
    FreeInline();
    // What the queue thread read meanwhile is its to hand on.
    wake = queuedCount_ != 0;
  }
  if (wake) dataQueued_.Set();
}

void CRTPReceiver::FreeInline() {
  for (size_t i = inlineCount_; i-- > 0;) FreeSlot(inline_[i]);
  inlineCount_ = 0;
  deliverer_.store(kNobody);
}

void CRTPReceiver::AskIdle() {
  uint32_t again = 0;
  try {
    again = user_->QueueIdle();
  } catch (...) {
  }
  idleDueMs_.store(SteadyMs() + (again != 0 ? std::min<uint32_t>(again, 1000) : 1000));
}

void CRTPReceiver::TakeOverReads() {
  TSmartPtr<IRTPClient> client;
  {
    CAutoLock guard(lock_);
    client = client_;
  }
  if (!client) return;
  auto* udp = static_cast<CUDPClient*>(client.Get());
  tTakingOver = true;
  // Bounded by the socket thread's return, or a stop (which closes the client).
  while (!IsStopping() && deliverer_.load() == kSocketThread) udp->ReadNow(10);
  tTakingOver = false;
}

void CRTPReceiver::ReceiveTimeout(IRTPClient* client) {
  if (client == nullptr || client != ownClient_.load() || user_ == nullptr) return;
  try {
    user_->ReceiveTimeout();
  } catch (...) {
  }
}

void CRTPReceiver::ClientClosed(IRTPClient* client) {
  if (client == nullptr || client != ownClient_.load() || user_ == nullptr) return;
  try {
    user_->ClientClosed();
  } catch (...) {
  }
}

uint32_t CRTPReceiver::ThreadFunction() {
  CEvent* events[2] = {&StopEvent(), &dataQueued_};
  uint32_t taken[kTakeAtOnce];
  CRTPPacket packet;
  bool again = false;
  for (;;) {
    if (!again) {
      // Woken for a frame in the queue; else looks every kTakeOverMs whether
      // the socket thread is held up, and when QueueIdle is due (a frame
      // whose end was never marked, packets held for a gap).
      const uint64_t now = SteadyMs();
      const uint64_t due = idleDueMs_.load();
      const uint64_t untilDue = due > now ? due - now : (due != 0 ? 0 : kTakeOverMs);
      const uint32_t waitMs = static_cast<uint32_t>(std::min<uint64_t>(untilDue, kTakeOverMs));
      if (CEvent::WaitForAny(events, 2, waitMs) == 0) break;
    }
    again = false;
    if (IsStopping()) break;
    if (deliverer_.load() == kSocketThread && SteadyMs() - inlineSinceMs_.load() >= kTakeOverMs) TakeOverReads();
    bool delivered = false;
    for (;;) {
      size_t count = 0;
      {
        CAutoLock guard(lock_);
        // The socket thread hands on its batch first and wakes this one after.
        if (deliverer_.load() == kSocketThread) break;
        for (; count < kTakeAtOnce && queuedCount_ > 0; ++count, --queuedCount_) {
          taken[count] = queued_[queuedHead_];
          queuedBytes_ -= slots_[taken[count]].length;
          queuedHead_ = (queuedHead_ + 1) % queued_.size();
        }
        inBatch_.store(count);
        if (count == 0) {
          if (deliverer_.load() == kQueueThread) deliverer_.store(kNobody);
          break;
        }
        deliverer_.store(kQueueThread);
      }
      delivered = true;
      // The taken slots are this thread's until handed back below.
      for (size_t i = 0; i < count; ++i) {
        const Slot& slot = slots_[taken[i]];
        if (IsStopping() || user_ == nullptr || !packet.ParseInPlace(slot.bytes.get(), slot.length)) continue;
        try {
          user_->RtpPacketArrived(slot.source, packet);
        } catch (...) {
        }
      }
      CAutoLock guard(lock_);
      for (size_t i = count; i-- > 0;) FreeSlot(taken[i]);
      inBatch_.store(0);
    }
    if (user_ == nullptr || IsStopping()) continue;
    const uint64_t due = idleDueMs_.load();
    if (!delivered && (due == 0 || SteadyMs() < due)) {
      if (due == 0) idleDueMs_.store(SteadyMs() + 1000);
      continue;
    }
    {
      CAutoLock guard(lock_);
      if (deliverer_.load() != kNobody) continue;
      deliverer_.store(kQueueThread);
    }
    AskIdle();
    CAutoLock guard(lock_);
    deliverer_.store(kNobody);
    // Queued while the user was asked: nobody else hands these on.
    again = queuedCount_ != 0;
  }
  return 0;
}

}  // namespace orbisan
