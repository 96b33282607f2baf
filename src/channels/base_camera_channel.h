#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "channels/camera_channel.h"
#include "channels/delivery_gate.h"
#include "device/idriver.h"
#include "runtime/event.h"
#include "runtime/rate_window.h"
#include "runtime/recursive_lock.h"
#include "runtime/time_utils.h"

namespace orbisan {

// What every video channel shares: the capture thread and its bounded stop,
// the channel state with its online/offline reports, and frame delivery.
class CBaseCameraChannel : public ICameraChannel {
 public:
  CBaseCameraChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink);
  ~CBaseCameraChannel() override;

  uint32_t GetChannelIndex() override { return channelIndex_; }
  ipcapture::IVideoFrameSink* GetFrameSink() override { return sink_; }
  void SetEdgeStorageCallback(IEdgeStorageCallback* callback) override { edgeCallback_.store(callback); }
  bool Start(const STREAM_PARAMS* params) override;
  void Stop() override;
  void RequestStop() override;
  bool Restart(const STREAM_PARAMS* params) override;
  bool StartEdgeMonitoring() override { return false; }
  bool StopEdgeMonitoring() override { return false; }
  ChannelState GetState() override;
  CHANNEL_STATISTICS GetStatistics() override;

  // "camera 10.1.2.3" or "video-server 10.1.2.3 (channel 2)", capitalised or not.
  std::string DeviceLabel(bool capital);

 protected:
  // Kinds of failure that keep a stream from coming up, each logged once
  // per outage.
  enum FailureKind : uint32_t {
    kFailureHttpCredentials,
    kFailureHttpConnection,
    kFailureRtspCredentials,
    kFailureRtspConnection,
    kFailureRtspStatus,
    kFailureNoRtp,
    kFailureAddress,
    kFailureLibrary,
    kFailureKinds
  };

  virtual uint32_t ThreadFunction() = 0;
  // Called with the stop under way, before the join (from the stopping thread).
  virtual void OnStopThread() {}
  // Called before each start of the capture thread.
  virtual void OnStartThread() {}
  // RTP-level figures of the stream (loss, jitter, camera clock; left as
  // they are by channels without RTP).
  virtual void FillLossCounters(CHANNEL_STATISTICS& statistics) { (void)statistics; }
  // Logs a failure line (level, text) for ReportFailure.
  virtual void LogFailure(uint32_t level, const std::string& text);

  // Remembers why the stream does not come up and logs it, the first time
  // of its kind in this outage only.
  void ReportFailure(FailureKind kind, const std::string& text);
  // Like ReportFailure, but logged at every attempt: for causes that no
  // retry mends and that the user has to act on.
  void ReportFailureEachTime(FailureKind kind, const std::string& text) {
    failuresLogged_.fetch_and(~(1u << kind));
    ReportFailure(kind, text);
  }
  // A frame arrived: the outage is over, the next failures are news again.
  void EndOutage() { failuresLogged_.store(0); }

  void SetState(ChannelState state);
  void SetCameraState(bool online);
  bool SendFrameCallback(ipcapture::IMediaSample* sample);
  void Notify_SendFrameCallback(ipcapture::IMediaSample* sample);
  void NotifySignalLost();
  bool StartThread();
  void StopThread();
  // Derived destructors call this so the thread never runs into a half
  // destroyed object.
  void StopFromDestructor();

  IDriver* Driver() const { return driver_; }
  const STREAM_PARAMS& Params() const { return params_; }
  CManualEvent& StopEvent() { return stopEvent_; }
  bool IsStopRequested() const { return stopEvent_.IsSet(); }
  bool MonitorOnly() const { return monitorOnly_.load(); }
  void SetMonitorOnly(bool on) { monitorOnly_.store(on); }
  CTime& LastFrameTime() { return lastFrameTime_; }
  std::string Suffix() const;

 private:
  void RunThread();
  void CountDelivery(ipcapture::IMediaSample* sample);

  std::atomic<bool> online_{false};
  std::atomic<bool> monitorOnly_{false};
  CRecursiveLock stateLock_;
  ChannelState state_ = Stopped;
  CRecursiveLock threadLock_;
  std::unique_ptr<std::thread> thread_;
  CManualEvent threadEnded_;
  CManualEvent threadPublished_;
  ipcapture::IVideoFrameSink* sink_;
  // Shut by every stop, so that no frame reaches the sink after it.
  CDeliveryGate gate_;
  std::atomic<IEdgeStorageCallback*> edgeCallback_{nullptr};
  uint32_t channelIndex_;
  IDriver* driver_;
  STREAM_PARAMS params_;
  CManualEvent stopEvent_;
  CTime lastFrameTime_;
  std::atomic<uint32_t> failuresLogged_{0};
  CRecursiveLock failureLock_;
  std::string lastFailure_;
  // Delivery figures: counters only, read without a lock.
  std::atomic<uint64_t> frames_{0};
  std::atomic<uint64_t> keyFrames_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> lastDeliveryMs_{0};  // monotonic; 0 before the first frame
  std::atomic<uint64_t> streamingStarts_{0};
  std::atomic<uint64_t> signalLostCount_{0};
  CRateWindow rates_;
};

}  // namespace orbisan
