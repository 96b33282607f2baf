#include "rtsp/rtp_receiver.h"

#include "rtsp/udp_client.h"
#include "runtime/format.h"

namespace orbisan {

namespace {

constexpr uint32_t kReceiveBufferBytes = 1536;
constexpr uint32_t kPollTimeMs = 2000;

}  // namespace

CRTPReceiver::CRTPReceiver(IRTPReceiverUser* user, IDebugMessage* owner) : CBaseThread(owner), user_(user) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) { return StartClient(nullptr, port); }

bool CRTPReceiver::StartMulticast(const std::string& group, uint16_t port) { return StartClient(&group, port); }

bool CRTPReceiver::StartClient(const std::string* group, uint16_t port) {
  Stop();
  auto* udp = new CUDPClient();
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
  {
    CAutoLock guard(lock_);
    wasEmpty = queue_.empty();
    queue_.push_back(item);
  }
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
