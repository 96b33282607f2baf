#include "rtsp/rtp_receiver.h"

#include "rtsp/udp_client.h"
#include "runtime/format.h"

namespace orbisan {

namespace {

constexpr uint32_t kReceiveBufferBytes = 1536;
constexpr uint32_t kPollTimeMs = 2000;

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
  udp->SetBufferSize(kReceiveBufferBytes);
  udp->SetTimeout(kPollTimeMs);
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
  return queue_.size() + inBatch_.load();
}

void CRTPReceiver::ClearQueue() {
  CAutoLock guard(lock_);
  for (Item* item : queue_) delete item;
  queue_.clear();
  dropping_ = false;
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

void CRTPReceiver::DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) {
  if (client == nullptr || client != ownClient_.load()) return;
  auto* item = new Item;
  item->source = source;
  if (!item->packet.Parse(data, length) || IsStopping()) {
    delete item;
    return;
  }
  bool wasEmpty;
  bool runStarts = false;
  bool runEnds = false;
  uint64_t runDropped = 0;
  {
    CAutoLock guard(lock_);
    const size_t limit = queueLimit_.load();
    size_t dropped = 0;
    while (!queue_.empty() && queue_.size() >= limit) {
      delete queue_.front();
      queue_.pop_front();
      ++dropped;
    }
    if (dropped != 0) {
      droppedPackets_.fetch_add(dropped);
      if (!dropping_) {
        dropping_ = runStarts = true;
        droppedAtRunStart_ = droppedPackets_.load() - dropped;
      }
    } else if (dropping_ && queue_.size() < limit / 2) {
      // Half empty again: the sink caught up, the run of drops is over.
      dropping_ = false;
      runEnds = true;
      runDropped = droppedPackets_.load() - droppedAtRunStart_;
    }
    wasEmpty = queue_.empty();
    queue_.push_back(item);
  }
  if (runStarts || runEnds) LogDropRun(runStarts, runDropped);
  // The queue thread takes everything queued at each wake, so it needs a
  // signal only when the queue turns non-empty.
  if (wasEmpty) dataQueued_.Set();
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
  std::deque<Item*> batch;
  for (;;) {
    if (CEvent::WaitForAny(events, 2, 1000) == 0) break;
    {
      CAutoLock guard(lock_);
      batch.swap(queue_);
      inBatch_.store(batch.size());
    }
    for (Item* item : batch) {
      if (!IsStopping() && user_ != nullptr) {
        try {
          user_->RtpPacketArrived(item->source, item->packet);
        } catch (...) {
        }
      }
      delete item;
      inBatch_.fetch_sub(1);
    }
    batch.clear();
  }
  return 0;
}

}  // namespace orbisan
