#include "io/base_motion_channel.h"

#include <chrono>
#include <thread>

#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint8_t kMotionFrameTag = 1;
constexpr uint32_t kFrameWidth = 320;
constexpr uint32_t kFrameHeight = 240;
constexpr uint32_t kFrameResolutionClass = 2;
// How often Stop repeats its cancel while the thread ends.
constexpr uint32_t kCancelRepeatMs = 50;

}  // namespace

CBaseMotionChannel::CBaseMotionChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink)
    : CBaseThread(driver), driver_(driver), sink_(sink), lastReportMs_(NowMs()), channelIndex_(channelIndex) {}

CBaseMotionChannel::~CBaseMotionChannel() { Stop(); }

uint64_t CBaseMotionChannel::NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

bool CBaseMotionChannel::Start() {
  Stop();
  gate_.Open();
  {
    CAutoLock guard(stateLock_);
    reportedOnce_ = false;
  }
  return StartThread("Motion Detection Thread");
}

void CBaseMotionChannel::RequestStop() {
  StopEvent().Set();
  CancelRequest();
  gate_.Close();
}

void CBaseMotionChannel::Stop() {
  StopEvent().Set();
  gate_.Close();
  const uint32_t boundMs = driver_->GetDeviceInfo()->connectTimeoutMs + 1000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  // A request sent just after a cancel would clear it: cancel again until
  // the thread has gone, within the bound.
  while (IsRunning() && std::chrono::steady_clock::now() < deadline) {
    CancelRequest();
    std::this_thread::sleep_for(std::chrono::milliseconds(kCancelRepeatMs));
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  StopThread(left.count() > 0 ? static_cast<uint32_t>(left.count()) : 1);
}

uint32_t CBaseMotionChannel::ThreadFunction() {
  RunThread();
  return 0;
}

void CBaseMotionChannel::NotifyMotionDataReceived() {
  IEdgeStorageCallback* callback = edgeCallback_.load();
  if (callback == nullptr) return;
  try {
    callback->OnFrameTime(channelIndex_, NowFileTime());
  } catch (...) {
    driver_->DebugMessage(kLogError, "%s: Unhandled exception in driver instance for device %s",
                          "orbisan::CBaseMotionChannel::Notify_MotionDataReceived", driver_->GetDeviceName().c_str());
  }
}

void CBaseMotionChannel::ReportMotion(bool motion) {
  CAutoLock guard(stateLock_);
  if (!reportedOnce_) {
    // The host always sees one transition first.
    CaptureMotionFrameCallback(!motion);
    CaptureMotionFrameCallback(motion);
    reportedOnce_ = true;
    lastState_ = motion;
    return;
  }
  if (motion == lastState_) return;
  if (NowMs() - lastReportMs_ < kHoldMs) return;
  CaptureMotionFrameCallback(motion);
  lastState_ = motion;
}

bool CBaseMotionChannel::CaptureMotionFrameCallback(bool motion) {
  ipcapture::IMediaSampleAllocator* allocator = driver_->GetSampleAllocator();
  if (allocator == nullptr || sink_ == nullptr) return false;
  // A stopped channel delivers nothing, even from a thread that has not yet
  // seen the stop; a host that stops from inside OnFrame is not waited for.
  CDeliveryGate::CPass pass(gate_);
  if (!pass) return false;
  ipcapture::IMediaSample* sample = allocator->CreateSample(ipcapture::kFourCC_MEMD, kSampleSize, "CBaseMotionChannel");
  if (sample == nullptr) return false;
  bool accepted = false;
  // A host sample too small for the two bytes is not written past its end.
  if (sample->GetSize() >= 2 && sample->GetBuffer() != nullptr) {
    uint8_t* data = sample->GetBuffer();
    data[0] = kMotionFrameTag;
    data[1] = motion ? 1 : 0;
    sample->SetDataSize(2);
    sample->SetWidth(kFrameWidth);
    sample->SetHeight(kFrameHeight);
    sample->SetResolutionClass(kFrameResolutionClass);
    sample->SetTimeNow();
    try {
      accepted = sink_->OnFrame(sample);
    } catch (...) {
      accepted = false;
    }
  }
  if (accepted) {
    lastReportMs_ = NowMs();
    active_.store(true);
  } else {
    driver_->DebugMessage(kLogTrace, "%s(): Motion detection data callback failed (device %s, channel %u)",
                          "orbisan::CBaseMotionChannel::CaptureMotionFrameCallback",
                          driver_->GetDeviceInfo()->address.c_str(), channelIndex_);
  }
  allocator->ReleaseSample(sample);
  return accepted;
}

void CBaseMotionChannel::CheckSignal() {
  CAutoLock guard(stateLock_);
  if (NowMs() - lastReportMs_ <= driver_->GetDeviceInfo()->signalTimeoutMs) return;
  DeclareSignalLost();
}

void CBaseMotionChannel::DeclareSignalLost() {
  if (!active_.exchange(false)) return;
  {
    CDeliveryGate::CPass pass(gate_);
    if (pass && sink_ != nullptr) sink_->OnSignalLost();
  }
  reportedOnce_ = false;
}

}  // namespace orbisan
