#include "channels/base_camera_channel.h"

#include <cctype>

#include "runtime/format.h"

namespace orbisan {

CBaseCameraChannel::CBaseCameraChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink)
    : sink_(sink), channelIndex_(channelIndex), driver_(driver) {}

CBaseCameraChannel::~CBaseCameraChannel() { StopFromDestructor(); }

void CBaseCameraChannel::StopFromDestructor() {
  // Only the thread and the offline report: virtual calls would reach
  // already destroyed derived parts.
  SetState(Stopped);
  SetCameraState(false);
  StopThread();
}

ChannelState CBaseCameraChannel::GetState() {
  CAutoLock guard(stateLock_);
  return state_;
}

CHANNEL_STATISTICS CBaseCameraChannel::GetStatistics() {
  CHANNEL_STATISTICS statistics;
  FillLossCounters(statistics);
  const uint64_t now = SteadyMs();
  statistics.frames = frames_.load();
  statistics.keyFrames = keyFrames_.load();
  statistics.bytes = bytes_.load();
  const CRateWindow::Rates rates = rates_.Read(now);
  statistics.fps = rates.framesPerSecond;
  statistics.kbps = rates.kilobitsPerSecond;
  const uint64_t starts = streamingStarts_.load();
  statistics.reconnects = starts > 0 ? starts - 1 : 0;
  statistics.signalLost = signalLostCount_.load();
  if (const uint64_t last = lastDeliveryMs_.load(); last != 0) {
    statistics.secondsSinceLastFrame = static_cast<double>(now > last ? now - last : 0) / 1000.0;
  }
  CAutoLock guard(failureLock_);
  statistics.lastFailure = lastFailure_;
  return statistics;
}

void CBaseCameraChannel::LogFailure(uint32_t level, const std::string& text) {
  driver_->DebugMessage(level, "%s", text.c_str());
}

void CBaseCameraChannel::ReportFailure(FailureKind kind, const std::string& text) {
  {
    CAutoLock guard(failureLock_);
    lastFailure_ = text;
  }
  const uint32_t bit = 1u << kind;
  if ((failuresLogged_.fetch_or(bit) & bit) != 0) return;
  const uint32_t level = kind == kFailureHttpCredentials || kind == kFailureRtspCredentials ? kLogError : kLogWarning;
  LogFailure(level, Format("%s: %s %s, device %s", "orbisan::CBaseCameraChannel::ReportFailure", text.c_str(),
                           Suffix().c_str(), driver_->GetDeviceName().c_str()));
}

void CBaseCameraChannel::SetState(ChannelState state) {
  CAutoLock guard(stateLock_);
  if (state == Streaming && state_ != Streaming) ++streamingStarts_;
  state_ = state;
}

bool CBaseCameraChannel::Start(const STREAM_PARAMS* params) {
  Stop();
  if (params != nullptr) params_ = *params;
  rates_.Start(SteadyMs());
  // Sockets need no start-up on this platform.
  return StartThread();
}

void CBaseCameraChannel::Stop() {
  SetState(Stopped);
  SetCameraState(false);
  StopThread();
}

bool CBaseCameraChannel::Restart(const STREAM_PARAMS* params) {
  SetState(Stopped);
  // The running thread reads the parameters: change them only once it is gone.
  StopThread();
  if (params != nullptr) {
    const uint32_t bitrate = params_.bitrate;
    params_ = *params;
    params_.bitrate = bitrate;
  }
  return StartThread();
}

std::string CBaseCameraChannel::Suffix() const {
  switch (params_.streamKind) {
    case kStreamRecording:
      return "(Rec)";
    case kStreamLive:
      return "(Live)";
    case kStreamRemote:
      return "(Remote)";
    default:
      return "";
  }
}

std::string CBaseCameraChannel::DeviceLabel(bool capital) {
  const std::string& address = driver_->GetDeviceInfo()->address;
  std::string name = driver_->GetChannelCount() > 1
                         ? Format("Video-server %s (channel %u)", address.c_str(), channelIndex_)
                         : Format("Camera %s", address.c_str());
  if (!capital) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return name;
}

void CBaseCameraChannel::SetCameraState(bool online) {
  if (online_.exchange(online) == online) return;
  const char* method = "orbisan::CBaseCameraChannel::SetCameraState";
  const std::string suffix = Suffix();
  if (online) {
    driver_->DebugMessage(kLogInfo, "%s: %s is online %s", method, DeviceLabel(true).c_str(), suffix.c_str());
    return;
  }
  switch (GetState()) {
    case SignalLost:
      driver_->DebugMessage(kLogError, "%s: Signal was lost for %s %s", method, DeviceLabel(false).c_str(),
                            suffix.c_str());
      break;
    case Stopped:
      driver_->DebugMessage(kLogInfo, "%s: %s is offline. Channel was stopped %s", method, DeviceLabel(true).c_str(),
                            suffix.c_str());
      break;
    default:
      driver_->DebugMessage(kLogError, "%s: %s is offline or failed %s", method, DeviceLabel(true).c_str(),
                            suffix.c_str());
      break;
  }
}

bool CBaseCameraChannel::SendFrameCallback(ipcapture::IMediaSample* sample) {
  if (monitorOnly_.load()) {
    if (sample != nullptr) Notify_SendFrameCallback(sample);
    return true;
  }
  if (sink_ == nullptr || sample == nullptr) return false;
  try {
    // A channel asked to stop delivers nothing more, even from a thread that
    // has not yet seen the stop.
    CDeliveryGate::CPass pass(gate_);
    if (!pass || !sink_->OnFrame(sample)) return false;
  } catch (...) {
    driver_->DebugMessage(kLogError, "%s(): Unexpected exception, device %s",
                          "orbisan::CBaseCameraChannel::SendFrameCallback", driver_->GetDeviceName().c_str());
    return false;
  }
  CountDelivery(sample);
  Notify_SendFrameCallback(sample);
  return true;
}

void CBaseCameraChannel::CountDelivery(ipcapture::IMediaSample* sample) {
  const uint32_t fourcc = sample->GetFourCC();
  const uint32_t size = sample->GetDataSize();
  const uint64_t now = SteadyMs();
  frames_.fetch_add(1, std::memory_order_relaxed);
  if (fourcc == ipcapture::kFourCC_H264 || fourcc == ipcapture::kFourCC_DIVX || fourcc == ipcapture::kFourCC_JPEG) {
    keyFrames_.fetch_add(1, std::memory_order_relaxed);
  }
  bytes_.fetch_add(size, std::memory_order_relaxed);
  lastDeliveryMs_.store(now != 0 ? now : 1, std::memory_order_relaxed);
  rates_.Add(now, size);
}

void CBaseCameraChannel::Notify_SendFrameCallback(ipcapture::IMediaSample* sample) {
  IEdgeStorageCallback* callback = edgeCallback_.load();
  if (callback == nullptr) return;
  try {
    SYSTEMTIME time;
    sample->GetTime(&time);
    callback->OnFrameTime(channelIndex_, SystemTimeToFileTime64(time));
  } catch (...) {
    driver_->DebugMessage(kLogError, "%s: Unhandled exception in driver instance for device %s",
                          "orbisan::CBaseCameraChannel::Notify_SendFrameCallback", driver_->GetDeviceName().c_str());
  }
}

void CBaseCameraChannel::RequestStop() {
  SetState(Stopped);
  stopEvent_.Set();
  gate_.Close();
}

void CBaseCameraChannel::NotifySignalLost() {
  ++signalLostCount_;
  if (sink_ != nullptr) {
    CDeliveryGate::CPass pass(gate_);
    if (pass) sink_->OnSignalLost();
  }
  if (IEdgeStorageCallback* callback = edgeCallback_.load()) callback->OnSignalLost(channelIndex_);
}

void CBaseCameraChannel::RunThread() {
  threadPublished_.Wait(kInfinite);  // thread_ is stored before the body runs
  try {
    ThreadFunction();
  } catch (...) {
    driver_->DebugMessage(kLogError, "%s: Unhandled exception in driver instance for device %s",
                          "orbisan::CBaseCameraChannel::ThreadFunction", driver_->GetDeviceName().c_str());
  }
  threadEnded_.Set();
}

bool CBaseCameraChannel::StartThread() {
  if (!threadLock_.TryEnter()) return false;  // a stop is in progress elsewhere
  bool started = false;
  if (!thread_) {
    OnStartThread();
    stopEvent_.Reset();
    gate_.Open();
    threadEnded_.Reset();
    threadPublished_.Reset();
    try {
      thread_ = std::make_unique<std::thread>([this] { RunThread(); });
      started = true;
    } catch (...) {
      thread_.reset();
    }
    threadPublished_.Set();
  }
  threadLock_.Leave();
  return started;
}

void CBaseCameraChannel::StopThread() {
  stopEvent_.Set();
  gate_.Close();
  CAutoLock guard(threadLock_);
  if (!thread_) return;
  OnStopThread();
  if (thread_->get_id() == std::this_thread::get_id()) return;  // the thread stops itself
  const uint32_t timeout = 2 * driver_->GetDeviceInfo()->connectTimeoutMs;
  if (!threadEnded_.Wait(timeout)) {
    driver_->DebugMessage(kLogWarning, "%s: Video capture thread for %s cannot be stopped and will be terminated now",
                          "orbisan::CBaseCameraChannel::StopThread", DeviceLabel(false).c_str());
    // A POSIX thread cannot be killed safely: keep waiting for it.
    threadEnded_.Wait(kInfinite);
  }
  thread_->join();
  thread_.reset();
}

}  // namespace orbisan
