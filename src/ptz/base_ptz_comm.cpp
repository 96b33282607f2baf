#include "ptz/base_ptz_comm.h"

#include <chrono>
#include <cstdarg>
#include <new>

#include "runtime/format.h"

namespace orbisan {

// A work item that tells its command object when it is gone, whether it was
// handled, dropped for space or discarded at stop.
class CPostedWorkItem : public CWorkItem {
 public:
  CPostedWorkItem(CBasePTZComm* owner, int32_t type, uint32_t action, IIPParams* params)
      : CWorkItem(type, action, params), owner_(owner) {
    owner_->ItemCreated();
  }
  ~CPostedWorkItem() override { owner_->ItemGone(); }

 private:
  CBasePTZComm* owner_;
};

CBasePTZComm::CBasePTZComm(IDriver* driver, uint16_t channel)
    : CQueueThread<CWorkItem>(driver), driver_(driver), channel_(channel) {}

CBasePTZComm::~CBasePTZComm() {
  // Queued items report to this object, so they go before it does.
  Close();
}

bool CBasePTZComm::Open() {
  if (!IsReady()) return false;
  if (started_ && IsRunning()) return true;
  const bool ok = Start(Format("BaseIPPTZThread_Ch%u", channel_ + 1u));
  started_ = ok;
  if (!ok) {
    DebugMessage(kLogError, "%s: unable to start thread for channel %u", "orbisan::CBasePTZComm::Open", channel_ + 1u);
  }
  return ok;
}

void CBasePTZComm::Close() {
  // No new item starts; a request already on its way is cut short rather than
  // waited for, so a camera that stopped answering cannot hold up the close.
  StopEvent().Set();
  CancelRequests();
  Stop();
  started_ = false;
}

bool CBasePTZComm::WaitIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(pendingMutex_);
  return pendingChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return pending_ == 0; });
}

void CBasePTZComm::ItemCreated() {
  std::lock_guard<std::mutex> lock(pendingMutex_);
  ++pending_;
}

void CBasePTZComm::ItemGone() {
  std::lock_guard<std::mutex> lock(pendingMutex_);
  if (--pending_ == 0) pendingChanged_.notify_all();
}

void CBasePTZComm::HandleItem(CWorkItem* item) {
  try {
    HandleWorkItem(item);
  } catch (...) {
    DebugMessage(kLogError, "%s(): Unexpected exception, device %s", "orbisan::CBasePTZComm::HandleWorkItem",
                 GetDeviceName().c_str());
  }
}

bool CBasePTZComm::Post(CWorkItem* item, const char* logName) {
  const int32_t type = item ? item->commandType : 0;
  if (item == nullptr || !AddItem(item, queueLimit_.load())) {
    DebugMessage(kLogError, "%s: cannot send message (%d) to thread", logName, type);
    return false;
  }
  return true;
}

int32_t CBasePTZComm::StartMove(IIPParams* params, uint32_t direction, uint32_t speed) {
  const auto speeds = ConvertMoveSpeed(direction, speed);
  auto* item = new (std::nothrow) CPostedWorkItem(this, kPtzCommandMove, kPtzActionNone, params);
  if (item != nullptr) {
    item->value1 = direction;
    item->value2 = speeds.first;
    item->value3 = speeds.second;
  }
  return Post(item, "orbisan::CBasePTZComm::StartMove") ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CBasePTZComm::StartFocus(IIPParams* params, bool near, uint32_t speed) {
  const uint32_t converted = ConvertFocusSpeed(speed);
  auto* item = new (std::nothrow)
      CPostedWorkItem(this, kPtzCommandFocus, near ? kPtzActionFocusNear : kPtzActionFocusFar, params);
  if (item != nullptr) item->value1 = converted;
  return Post(item, "orbisan::CBasePTZComm::StartFocus") ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CBasePTZComm::StartIris(IIPParams* params, bool open, uint32_t speed) {
  const uint32_t converted = ConvertIrisSpeed(speed);
  auto* item = new (std::nothrow)
      CPostedWorkItem(this, kPtzCommandIris, open ? kPtzActionIrisOpen : kPtzActionIrisClose, params);
  if (item != nullptr) item->value1 = converted;
  return Post(item, "orbisan::CBasePTZComm::StartIris") ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CBasePTZComm::AreaZoom(IIPParams* params, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  auto* item = new (std::nothrow) CPostedWorkItem(this, kPtzCommandAreaZoom, kPtzActionNone, params);
  if (item != nullptr) {
    item->value1 = a;
    item->value2 = b;
    item->value3 = c;
    item->value4 = d;
  }
  return Post(item, "orbisan::CBasePTZComm::AreaZoom") ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CBasePTZComm::Center(IIPParams* params, uint32_t a, uint32_t b, uint32_t c) {
  auto* item = new (std::nothrow) CPostedWorkItem(this, kPtzCommandCenter, kPtzActionNone, params);
  if (item != nullptr) {
    item->value1 = a;
    item->value2 = b;
    item->value3 = c;
  }
  return Post(item, "orbisan::CBasePTZComm::Center") ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CBasePTZComm::Unzoom(IIPParams* params, uint32_t a) {
  auto* item = new (std::nothrow) CPostedWorkItem(this, kPtzCommandUnzoom, kPtzActionNone, params);
  if (item != nullptr) item->value1 = a;
  return Post(item, "orbisan::CBasePTZComm::Unzoom") ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

bool CBasePTZComm::PostStop(IIPParams* params, uint32_t action, const char* logName) {
  return Post(new (std::nothrow) CPostedWorkItem(this, kPtzCommandStop, action, params), logName);
}

bool CBasePTZComm::StopMoving(IIPParams* params) {
  return PostStop(params, kPtzActionStopMoving, "orbisan::CBasePTZComm::StopMoving");
}

bool CBasePTZComm::StopZooming(IIPParams* params) {
  return PostStop(params, kPtzActionStopZooming, "orbisan::CBasePTZComm::StopZooming");
}

bool CBasePTZComm::StopFocusing(IIPParams* params) {
  return PostStop(params, kPtzActionStopFocusing, "orbisan::CBasePTZComm::StopFocusing");
}

bool CBasePTZComm::StopIrisChanging(IIPParams* params) {
  return PostStop(params, kPtzActionStopIris, "orbisan::CBasePTZComm::StopIrisChanging");
}

bool CBasePTZComm::RemovePreposition(uint32_t, const std::wstring&) { return true; }

std::string CBasePTZComm::GetDeviceName() { return driver_ ? driver_->GetDeviceName() : std::string(); }

void CBasePTZComm::DebugMessage(uint32_t level, const char* format, ...) {
  if (driver_ == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  driver_->DebugMessage(level, "%s", text.c_str());
}

}  // namespace orbisan
