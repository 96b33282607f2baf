#include "edge/base_edge_storage_task.h"

#include <algorithm>

namespace orbisan {

namespace {

constexpr uint32_t kPlayingWaitMs = 15000;
constexpr uint64_t kUnitsPerSecond = 10000000ull;

bool IsKeyFrame(uint32_t fourcc) {
  return fourcc == ipcapture::kFourCC_H264 || fourcc == ipcapture::kFourCC_DIVX || fourcc == ipcapture::kFourCC_JPEG;
}

}  // namespace

CBaseEdgeStorageTask::CBaseEdgeStorageTask(IDriver* driver) : CLoggerInstance(driver), driver_(driver) {}

uint64_t CBaseEdgeStorageTask::PlaybackStart(uint64_t position) { return position - position % kUnitsPerSecond; }

void CBaseEdgeStorageTask::SetInterval(uint32_t key, uint64_t begin, uint64_t end) {
  key_ = key;
  position_.Set(begin);
  end_ = end;
  stop_.Reset();
}

void CBaseEdgeStorageTask::AbortChannel(uint32_t key) {
  if (key_.load() == key) stop_.Set();
}

void CBaseEdgeStorageTask::SetHandler(IEdgeStorageHandler* handler) {
  CAutoLock guard(handlerLock_);
  handler_ = handler;
}

IEdgeStorageHandler* CBaseEdgeStorageTask::GetHandler() {
  CAutoLock guard(handlerLock_);
  return handler_;
}

void CBaseEdgeStorageTask::ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME& time) {
  CAutoLock guard(converterLock_);
  converter_.Convert(rtpTimestamp);
  converter_.GetTime(time);
}

bool CBaseEdgeStorageTask::ProcessTaskItem(uint64_t* position) {
  const char* method = "orbisan::CEdgeStorageTask::ProcessTaskItem";
  const uint64_t start = position_.Get();
  const uint64_t end = end_.load();
  {
    CAutoLock guard(converterLock_);
    converter_.Reset();
    if (start != 0) converter_.StartPlayback(PlaybackStart(start));
  }
  waitForKeyFrame_ = true;
  playing_.Reset();
  sessionClosed_.Reset();
  lastFrame_.Touch();
  const std::string device = driver_->GetDeviceName();
  // Only the camera's own answer ends an item unfetched: a query or a
  // session start that got no answer (the camera still down, or an abort)
  // leaves it to be tried again; the session client's last exchange is
  // from an earlier pass.
  const Storage storage = CheckStorage();
  if (storage != Storage::kMounted) {
    if (position != nullptr) *position = start;
    if (storage == Storage::kUnanswered) {
      LogMessage(kLogWarning,
                 "%s: Recorded interval (start: %s, end: %s) cannot be fetched yet: device %s did not answer the "
                 "storage query",
                 method, FormatLocalTime(start).c_str(), FormatLocalTime(end).c_str(), device.c_str());
      return false;
    }
    LogMessage(kLogWarning, "%s: Recorded interval (start: %s, end: %s) cannot be fetched: no storage on device %s",
               method, FormatLocalTime(start).c_str(), FormatLocalTime(end).c_str(), device.c_str());
    return true;
  }
  if (stop_.IsSet() || !StartSession(start)) {
    StopSession();
    if (position != nullptr) *position = position_.Get();
    return false;
  }
  CEvent* events[2] = {&stop_, &playing_};
  if (CEvent::WaitForAny(events, 2, kPlayingWaitMs) != 1) {
    StopSession();
    if (position != nullptr) *position = position_.Get();
    // An abort leaves the item to its owner: parked while its channel is away.
    if (stop_.IsSet()) return false;
    LogMessage(kLogError,
               "%s: Recorded interval (start: %s, end: %s) processing ERROR, storage on device %s is not available or "
               "empty",
               method, FormatLocalTime(start).c_str(), FormatLocalTime(end).c_str(), device.c_str());
    return true;
  }
  if (!WaitFileProcessing(end)) {
    LogMessage(kLogError, "%s: Recorded interval (start: %s, end: %s) processing ERROR, device %s", method,
               FormatLocalTime(start).c_str(), FormatLocalTime(end).c_str(), device.c_str());
    StopSession();
    if (position != nullptr) *position = position_.Get();
    return false;
  }
  return FinishPass(position) && !stop_.IsSet();
}

bool CBaseEdgeStorageTask::FinishPass(uint64_t* position) {
  if (position != nullptr) *position = position_.Get();
  const bool answered = LastExchangeResult();
  StopSession();
  return answered;
}

bool CBaseEdgeStorageTask::WaitFileProcessing(uint64_t end) {
  const char* method = "orbisan::CEdgeStorageTask::WaitFileProcessing";
  const uint32_t silenceMs = 2 * driver_->GetDeviceInfo()->connectTimeoutMs;
  while (!stop_.IsSet() && position_.Get() < end) {
    if (lastFrame_.ElapsedMs() > silenceMs) {
      if (IsSessionRunning()) {
        LogMessage(kLogInfo, "%s: No video for selected time interval, device %s", method,
                   driver_->GetDeviceName().c_str());
        return true;
      }
      LogMessage(kLogError, "%s: Play interval ERROR, signal timeout, device %s", method,
                 driver_->GetDeviceName().c_str());
      return false;
    }
    if (sessionClosed_.IsSet()) {
      LogMessage(kLogError, "%s: Play interval ERROR, RTSP session was closed, device %s", method,
                 driver_->GetDeviceName().c_str());
      return false;
    }
    const uint32_t again = FlushIdle();
    stop_.Wait(again == 0 ? 1000 : std::clamp<uint32_t>(again, 10, 1000));
  }
  return true;
}

bool CBaseEdgeStorageTask::FrameReady(ipcapture::IMediaSample* frame) {
  if (frame == nullptr) return false;
  SYSTEMTIME when;
  frame->GetTime(&when);
  uint64_t time = SystemTimeToFileTime64(when);
  if (time == 0) time = NowFileTime();
  lastFrame_.Touch();
  if (time <= position_.Get()) return true;
  if (IsKeyFrame(frame->GetFourCC())) waitForKeyFrame_ = false;
  if (waitForKeyFrame_) return true;
  // A frame at the end's time is the live frame that ended the gap.
  if (time >= end_.load()) {
    position_.Set(time);
    return true;
  }
  CAutoLock guard(handlerLock_);
  if (handler_ == nullptr) return true;
  try {
    if (!handler_->DeliverFrame(key_.load(), frame)) return true;
  } catch (...) {
    driver_->DebugMessage(kLogError, "%s: Unhandled exception during processing frame from device %s",
                          "orbisan::CBaseEdgeStorageTask::CaptureFrameCallback", driver_->GetDeviceName().c_str());
    return true;
  }
  position_.Set(time);
  ++delivered_;
  return true;
}

}  // namespace orbisan
