#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "channels/camera_channel.h"
#include "device/idriver.h"
#include "runtime/event.h"
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
  bool Restart(const STREAM_PARAMS* params) override;
  bool StartEdgeMonitoring() override { return false; }
  bool StopEdgeMonitoring() override { return false; }
  ChannelState GetState() override;

  // "camera 10.1.2.3" or "video-server 10.1.2.3 (channel 2)", capitalised or not.
  std::string DeviceLabel(bool capital);

 protected:
  virtual uint32_t ThreadFunction() = 0;
  virtual void OnStopThread() {}

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

  std::atomic<bool> online_{false};
  std::atomic<bool> monitorOnly_{false};
  CRecursiveLock stateLock_;
  ChannelState state_ = Stopped;
  CRecursiveLock threadLock_;
  std::unique_ptr<std::thread> thread_;
  CManualEvent threadEnded_;
  CManualEvent threadPublished_;
  ipcapture::IVideoFrameSink* sink_;
  std::atomic<IEdgeStorageCallback*> edgeCallback_{nullptr};
  uint32_t channelIndex_;
  IDriver* driver_;
  STREAM_PARAMS params_;
  CManualEvent stopEvent_;
  CTime lastFrameTime_;
};

}  // namespace orbisan
