#include "edge/base_edge_storage_handler.h"

#include <algorithm>
#include <optional>

#include "runtime/time_utils.h"

namespace orbisan {

namespace {

// How long the item handler waits for activity before it looks whether its
// channel still exists.
constexpr uint32_t kItemWaitMs = 10000;

}  // namespace

CBaseEdgeStorageHandler::CBaseEdgeStorageHandler(IDriver* driver, uint32_t queueLimit)
    : CBaseThread(driver), driver_(driver), queueLimit_(std::max(queueLimit, 1u)), queue_(this, driver) {}

CBaseEdgeStorageHandler::~CBaseEdgeStorageHandler() {
  // The item under way ends first: its task stops, then its thread.
  queue_.QueueStopEvent().Set();
  IEdgeStorageTask* task = driver_->GetEdgeStorageTask();
  if (task != nullptr) task->Abort();
  StopThread(5000);
  queue_.Stop();
  if (task != nullptr && task->GetHandler() == this) task->SetHandler(nullptr);
}

void CBaseEdgeStorageHandler::SetRetryPolicy(uint32_t firstMs, uint32_t maxMs, uint32_t maxAttempts) {
  retryFirstMs_ = firstMs;
  retryMaxMs_ = std::max(firstMs, maxMs);
  retryMaxAttempts_ = std::max(maxAttempts, 1u);
}

size_t CBaseEdgeStorageHandler::PendingCount() {
  CAutoLock guard(pendingLock_);
  return pending_.size();
}

void CBaseEdgeStorageHandler::RegisterChannel(IEdgeMonitorChannel* channel) {
  if (channel == nullptr) return;
  ipcapture::IVideoFrameSink* sink = channel->GetFrameSink();
  if (sink == nullptr) return;
  const uint32_t key = channel->GetChannelIndex();
  {
    CAutoLock guard(mapLock_);
    auto it = channels_.find(key);
    if (it == channels_.end()) {
      channels_[key] = Monitored{sink, 1, 0, 0, std::make_shared<CDeliveryGate>()};
      std::unique_ptr<CEdgeStorageTaskItem> parked;
      {
        CAutoLock pendingGuard(pendingLock_);
        auto item = pending_.find(key);
        if (item != pending_.end()) {
          parked = std::move(item->second);
          pending_.erase(item);
        }
      }
      if (parked) queue_.AddItem(parked.release(), queueLimit_);
      StartEdgeStorageThreads();
    } else {
      ++it->second.registrations;
    }
  }
  channel->SetEdgeStorageCallback(this);
}

void CBaseEdgeStorageHandler::UnregisterChannel(IEdgeMonitorChannel* channel) {
  if (channel == nullptr) return;
  channel->SetEdgeStorageCallback(nullptr);
  const uint32_t key = channel->GetChannelIndex();
  std::shared_ptr<CDeliveryGate> gate;
  {
    CAutoLock guard(mapLock_);
    auto it = channels_.find(key);
    if (it == channels_.end()) return;
    if (--it->second.registrations != 0) return;
    if (IEdgeStorageTask* task = driver_->GetEdgeStorageTask()) task->AbortChannel(key);
    channelGone_.Set();
    gate = std::move(it->second.gate);
    channels_.erase(it);
  }
  // Outside the map lock: the delivery waited for may look up other keys.
  gate->Close();
}

bool CBaseEdgeStorageHandler::DeliverFrame(uint32_t key, ipcapture::IMediaSample* frame) {
  ipcapture::IVideoFrameSink* sink = nullptr;
  std::shared_ptr<CDeliveryGate> gate;
  std::optional<CDeliveryGate::CPass> pass;
  {
    // Admitted under the map lock, so an unregistration either finds this
    // delivery under way or is seen by it.
    CAutoLock guard(mapLock_);
    auto it = channels_.find(key);
    if (it == channels_.end()) return false;
    sink = it->second.sink;
    gate = it->second.gate;
    pass.emplace(*gate);
  }
  return *pass && sink->OnFrame(frame);
}

ipcapture::IVideoFrameSink* CBaseEdgeStorageHandler::FindChannel(uint32_t key) {
  CAutoLock guard(mapLock_);
  auto it = channels_.find(key);
  return it == channels_.end() ? nullptr : it->second.sink;
}

void CBaseEdgeStorageHandler::OnFrameTime(uint32_t channelIndex, uint64_t frameTime) {
  CAutoLock guard(mapLock_);
  auto it = channels_.find(channelIndex);
  if (it == channels_.end()) return;
  it->second.arrivalMs = SteadyMs();
  if (frameTime <= it->second.newest) return;
  resumeTime_.Update([frameTime](uint64_t& resume) {
    if (resume == 0) resume = frameTime;
  });
  it->second.newest = frameTime;
  activity_.Set();
}

void CBaseEdgeStorageHandler::OnSignalLost(uint32_t) { wake_.Set(); }

void CBaseEdgeStorageHandler::StartEdgeStorageThreads() {
  if (IsRunning()) return;
  const std::string device = driver_->GetDeviceName();
  bool started = queue_.IsRunning() || queue_.Start("Edge Storage: Video receiving thread - " + device);
  started = started && StartThread("Edge Storage: Monitor thread - " + device);
  if (started) return;
  driver_->DebugMessage(kLogError, "%s: Unable to start Edge Storage threads for device %s",
                        "orbisan::CBaseEdgeStorageHandler::StartEdgeStorageThreads", device.c_str());
  queue_.QueueStopEvent().Set();
  if (IEdgeStorageTask* task = driver_->GetEdgeStorageTask()) task->Abort();
  StopThread(driver_->GetDeviceInfo()->connectTimeoutMs + 1000);
  queue_.Stop();
}

void CBaseEdgeStorageHandler::Post(uint32_t key, uint64_t begin, uint64_t end) {
  std::unique_ptr<CEdgeStorageTaskItem> item = CEdgeStorageTaskItem::Create(key, begin, end);
  if (item) queue_.AddItem(item.release(), queueLimit_);
}

uint32_t CBaseEdgeStorageHandler::ThreadFunction() {
  CEvent* events[2] = {&StopEvent(), &activity_};
  for (;;) {
    if (CEvent::WaitForAny(events, 2, kInfinite) == 0) return 0;
    uint64_t resume = resumeTime_.Get();
    if (resume == 0) resume = NowFileTime();
    for (const auto& [key, newest] : silence_) {
      if (newest != 0 && newest < resume) Post(key, newest, resume);
    }
    silence_.clear();
    if (!WatchForSilence()) return 0;
    resumeTime_.Set(0);
    activity_.Reset();
    ++silences_;
  }
}

bool CBaseEdgeStorageHandler::WatchForSilence() {
  // The silence is timed on this machine's clock, by when frames arrived:
  // frame times are the camera's, which may run ahead of or behind this
  // clock, and would see a silence too late (a short outage never queued) or
  // in flowing video. The frame times only bound the gap.
  const uint32_t timeoutMs = driver_->GetDeviceInfo()->signalTimeoutMs;
  wake_.Reset();
  CEvent* events[2] = {&StopEvent(), &wake_};
  uint32_t waitMs = timeoutMs;
  for (;;) {
    if (CEvent::WaitForAny(events, 2, waitMs) == 0) return false;
    std::map<uint32_t, uint64_t> snapshot;
    uint64_t lastArrivalMs = 0;
    {
      CAutoLock guard(mapLock_);
      for (const auto& [key, channel] : channels_) {
        if (channel.newest == 0) continue;
        snapshot[key] = channel.newest;
        lastArrivalMs = std::max(lastArrivalMs, channel.arrivalMs);
      }
    }
    waitMs = timeoutMs;
    if (lastArrivalMs == 0) continue;
    const uint64_t silentMs = SteadyMs() - lastArrivalMs;
    if (silentMs > timeoutMs) {
      silence_ = std::move(snapshot);
      return true;
    }
    // Looked at again when the silence would be due, not a whole time-out
    // later, when a short outage could already be over.
    waitMs = static_cast<uint32_t>(timeoutMs - silentMs + 20);
  }
}

void CBaseEdgeStorageHandler::LogItem(const CEdgeStorageTaskItem& item, const char* what) {
  driver_->DebugMessage(kLogInfo,
                        "Work Item (address=\"%s\" channel=\"%u\" begin_time=\"%s\" end_time=\"%s\") - Processing %s",
                        driver_->GetDeviceName().c_str(), item.key, FormatLocalTime(item.begin).c_str(),
                        FormatLocalTime(item.end).c_str(), what);
}

void CBaseEdgeStorageHandler::Park(CEdgeStorageTaskItem* item) {
  auto copy = CEdgeStorageTaskItem::Create(item->key, item->begin, item->end);
  if (!copy) return;
  CAutoLock guard(pendingLock_);
  // One parked item per channel, and no more channels than the queue holds.
  if (pending_.count(item->key) == 0 && pending_.size() >= queueLimit_) pending_.erase(pending_.begin());
  pending_[item->key] = std::move(copy);
}

void CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem(CEdgeStorageTaskItem* item) {
  const char* method = "orbisan::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem";
  LogItem(*item, "started.");
  IEdgeStorageTask* task = driver_->GetEdgeStorageTask();
  if (item->begin == 0 || item->begin >= item->end || task == nullptr) {
    LogItem(*item, "finished.");
    return;
  }
  task->SetInterval(item->key, item->begin, item->end);
  CEvent* events[3] = {&queue_.QueueStopEvent(), &activity_, &channelGone_};
  uint32_t attempts = 0;
  uint32_t retryMs = retryFirstMs_;
  uint64_t lastAttemptMs = 0;
  for (;;) {
    const int32_t which = CEvent::WaitForAny(events, 3, kItemWaitMs);
    if (which == 0) {
      driver_->DebugMessage(kLogInfo, "%s: Process thread for interval (start: %s, end: %s) was ended, device %s",
                            method, FormatLocalTime(item->begin).c_str(), FormatLocalTime(item->end).c_str(),
                            driver_->GetDeviceName().c_str());
      return;
    }
    if (which == 1) {
      if (attempts != 0 && SteadyMs() - lastAttemptMs < retryMs) continue;
      if (attempts != 0) retryMs = std::min<uint64_t>(uint64_t{retryMs} * 2, retryMaxMs_.load());
      ++attempts;
      lastAttemptMs = SteadyMs();
      uint64_t position = item->begin;
      if (task->ProcessTaskItem(&position)) break;
      if (position > item->begin) item->begin = std::min(position, item->end);
      if (attempts < retryMaxAttempts_) continue;
      driver_->DebugMessage(kLogWarning,
                            "%s: Recorded interval (start: %s, end: %s) of channel %u was given up after %u attempts, "
                            "device %s",
                            method, FormatLocalTime(item->begin).c_str(), FormatLocalTime(item->end).c_str(), item->key,
                            attempts, driver_->GetDeviceName().c_str());
      break;
    }
    if (FindChannel(item->key) == nullptr) {
      driver_->DebugMessage(kLogInfo,
                            "%s: Unable to process interval (start: %s, end %s), device %s (channel %u) - channel was "
                            "stopped. Task will be processed later",
                            method, FormatLocalTime(item->begin).c_str(), FormatLocalTime(item->end).c_str(),
                            driver_->GetDeviceName().c_str(), item->key);
      Park(item);
      return;
    }
  }
  LogItem(*item, "finished.");
}

}  // namespace orbisan
