#pragma once

#include <atomic>
#include <cstdint>

#include "channels/delivery_gate.h"
#include "device/idriver.h"
#include "io/imotion_channel.h"
#include "runtime/base_thread.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// The thread, the state machine and the delivery to the host of a motion
// channel. Motion changes reach the host as two-byte "MEMD" frames through
// the frame sink of the recording stream; the first report after a start or
// a signal loss is a transition pair, later changes are held back until a
// second has passed since the last accepted frame.
class CBaseMotionChannel : public IMotionChannel, private CBaseThread {
 public:
  static constexpr uint32_t kHoldMs = 1000;
  static constexpr uint32_t kSampleSize = 1024;

  CBaseMotionChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink);
  ~CBaseMotionChannel() override;

  uint32_t GetChannelIndex() override { return channelIndex_; }
  ipcapture::IVideoFrameSink* GetFrameSink() override { return sink_; }
  void SetEdgeStorageCallback(IEdgeStorageCallback* callback) override { edgeCallback_.store(callback); }
  bool Start() override;
  void Stop() override;
  void RequestStop() override;

  virtual void CancelRequest() {}
  bool IsActive() const { return active_.load(); }

 protected:
  using CBaseThread::IsStopping;
  using CBaseThread::StopEvent;

  // Reports the state of one parsed message.
  void ReportMotion(bool motion);
  // Tells the edge-storage watcher that data arrived.
  void NotifyMotionDataReceived();
  // Called about once a second while the camera cannot be reached.
  void CheckSignal();
  bool CaptureMotionFrameCallback(bool motion);
  // Milliseconds of a monotonic clock; tests replace it.
  virtual uint64_t NowMs();

  IDriver* driver_;

 private:
  uint32_t ThreadFunction() override;
  virtual void RunThread() = 0;
  void DeclareSignalLost();

  ipcapture::IVideoFrameSink* sink_;
  std::atomic<IEdgeStorageCallback*> edgeCallback_{nullptr};
  std::atomic<bool> active_{false};
  CDeliveryGate gate_;
  CRecursiveLock stateLock_;
  uint64_t lastReportMs_;
  bool lastState_ = false;
  bool reportedOnce_ = false;
  uint32_t channelIndex_;
};

}  // namespace orbisan
