#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "channels/camera_channel.h"
#include "channels/delivery_gate.h"
#include "device/idriver.h"
#include "edge/edge_storage_queue_handler.h"
#include "edge/edge_storage_task_item.h"
#include "edge/iedge_storage.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"
#include "runtime/secured.h"

namespace orbisan {

// Notices silences in the registered channels' frame times and queues each
// gap, from the channel's last frame before it to the first frame after
// video came back; the queue thread has the driver's retrieval task fetch
// the gap from the camera's storage once the camera answers again.
class CBaseEdgeStorageHandler : public CBaseThread, public IEdgeStorageHandler, public IEdgeStorageCallback {
 public:
  CBaseEdgeStorageHandler(IDriver* driver, uint32_t queueLimit);
  ~CBaseEdgeStorageHandler() override;

  // IEdgeStorageHandler
  void RegisterChannel(IEdgeMonitorChannel* channel) override;
  void UnregisterChannel(IEdgeMonitorChannel* channel) override;
  ipcapture::IVideoFrameSink* FindChannel(uint32_t key) override;
  bool DeliverFrame(uint32_t key, ipcapture::IMediaSample* frame) override;
  // IEdgeStorageCallback
  void OnFrameTime(uint32_t channelIndex, uint64_t frameTime) override;
  void OnSignalLost(uint32_t channelIndex) override;

  // The queue thread's item handler.
  void ProcessEdgeStorageTaskItem(CEdgeStorageTaskItem* item);

  // An item whose interval could not be fetched is tried again no sooner
  // than this after its last attempt, the wait doubling up to maxMs, and
  // given up after maxAttempts attempts: a camera that keeps failing must
  // not be asked again at every frame, nor hold up the later gaps for ever.
  void SetRetryPolicy(uint32_t firstMs, uint32_t maxMs, uint32_t maxAttempts);
  size_t PendingCount();
  size_t QueuedCount() { return queue_.QueuedCount(); }
  // Silences noticed so far (the gap is queued once video is back).
  uint64_t SilenceCount() const { return silences_.load(); }

 protected:
  uint32_t ThreadFunction() override;

 private:
  struct Monitored {
    ipcapture::IVideoFrameSink* sink = nullptr;
    uint32_t registrations = 0;
    uint64_t newest = 0;     // newest frame time, the camera's clock
    uint64_t arrivalMs = 0;  // when a frame last came, this machine's steady clock
    // Shut by the last unregistration, which waits for a delivery under way
    // on another thread (one the host unregisters from inside is not waited for).
    std::shared_ptr<CDeliveryGate> gate = std::make_shared<CDeliveryGate>();
  };

  void StartEdgeStorageThreads();
  void Post(uint32_t key, uint64_t begin, uint64_t end);
  void Park(CEdgeStorageTaskItem* item);
  // Waits for a silence of all channels; false when the thread is to stop.
  bool WatchForSilence();
  void LogItem(const CEdgeStorageTaskItem& item, const char* what);

  IDriver* driver_;
  uint32_t queueLimit_;
  TEdgeStorageQueueHandler<CBaseEdgeStorageHandler> queue_;
  CRecursiveLock mapLock_;
  std::map<uint32_t, Monitored> channels_;
  TSecured<uint64_t> resumeTime_;
  CRecursiveLock pendingLock_;
  std::map<uint32_t, std::unique_ptr<CEdgeStorageTaskItem>> pending_;
  CEvent channelGone_{false};
  CEvent wake_{false};
  CEvent activity_{false};
  std::map<uint32_t, uint64_t> silence_;  // monitor thread only
  std::atomic<uint64_t> silences_{0};
  std::atomic<uint32_t> retryFirstMs_{5000};
  std::atomic<uint32_t> retryMaxMs_{60000};
  std::atomic<uint32_t> retryMaxAttempts_{6};
};

}  // namespace orbisan
