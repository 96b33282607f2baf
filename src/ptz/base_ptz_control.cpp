#include "ptz/base_ptz_control.h"

#include <cstring>

#include "runtime/text_utils.h"

namespace orbisan {

namespace {

// Time Close gives posted commands (a final stop above all) to reach the camera.
constexpr uint32_t kDrainMs = 2000;

int32_t CopyName(const std::wstring& name, char* buffer, uint32_t size) {
  const std::string text = WideToUtf8(name);
  if (buffer == nullptr || text.size() >= size) return ipcapture::kPtzInvalidArgument;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return ipcapture::kPtzOk;
}

}  // namespace

CBasePTZControl::CBasePTZControl(IDriver* driver, uint32_t channel, bool storage)
    : driver_(driver), channel_(channel), presets_(channel, storage) {}

CBasePTZControl::~CBasePTZControl() { CBasePTZControl::Close(); }

void CBasePTZControl::Close() {
  if (!comm_) return;
  // The comm's close cuts a preset request under way short; only then can
  // the list's lock, which that request holds, be had.
  if (comm_->IsStarted()) {
    comm_->WaitIdle(kDrainMs);
    comm_->Close();
  }
  presets_.SetComm(nullptr, 0);
  comm_.reset();
}

bool CBasePTZControl::OpenComm() {
  comm_.reset(CreatePTZComm());
  return comm_ && comm_->Open();
}

bool CBasePTZControl::Open() {
  if (!OpenComm()) {
    Close();
    return false;
  }
  presets_.SetComm(comm_.get(), comm_->GetPresetCapacity());
  return true;
}

bool CBasePTZControl::OpenWithStorage(const TSmartPtr<CXMLPrepositionReader>& store) {
  if (!store || !OpenComm()) {
    Close();
    return false;
  }
  presets_.SetComm(comm_.get(), comm_->GetPresetCapacity());
  presets_.SetStorage(store);
  return true;
}

int32_t CBasePTZControl::Finish(int32_t result, std::atomic<bool>* flag) {
  if (result == ipcapture::kPtzOk) {
    presets_.PositionChanged();
    if (flag != nullptr) *flag = true;
  }
  return result;
}

int32_t CBasePTZControl::GetStatus() { return comm_ ? comm_->GetStatus(this) : ipcapture::kPtzNotSent; }

int32_t CBasePTZControl::Move(uint32_t direction, uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  // Directions above zoom out are not moves; 10 has been seen from hosts.
  if (direction > ipcapture::kPtzZoomOut) return ipcapture::kPtzInvalidArgument;
  const bool zoom = direction == ipcapture::kPtzZoomIn || direction == ipcapture::kPtzZoomOut;
  return Finish(comm_->StartMove(this, direction, speed), zoom ? &zooming_ : &moving_);
}

int32_t CBasePTZControl::ZoomIn(uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->StartMove(this, ipcapture::kPtzZoomIn, speed), &zooming_);
}

int32_t CBasePTZControl::ZoomOut(uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->StartMove(this, ipcapture::kPtzZoomOut, speed), &zooming_);
}

int32_t CBasePTZControl::FocusNear(uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->StartFocus(this, true, speed), &focusing_);
}

int32_t CBasePTZControl::FocusFar(uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->StartFocus(this, false, speed), &focusing_);
}

int32_t CBasePTZControl::IrisOpen(uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->StartIris(this, true, speed), &irisChanging_);
}

int32_t CBasePTZControl::IrisClose(uint32_t speed) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->StartIris(this, false, speed), &irisChanging_);
}

int32_t CBasePTZControl::Center(uint32_t a, uint32_t b, uint32_t c) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->Center(this, a, b, c), nullptr);
}

int32_t CBasePTZControl::Unzoom(uint32_t a) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->Unzoom(this, a), nullptr);
}

int32_t CBasePTZControl::AreaZoom(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  if (!comm_) return ipcapture::kPtzNotSent;
  return Finish(comm_->AreaZoom(this, a, b, c, d), nullptr);
}

int32_t CBasePTZControl::Stop() {
  if (!comm_) return ipcapture::kPtzNotSent;
  bool all = true;
  auto stop = [&](std::atomic<bool>& flag, bool (CBasePTZComm::*post)(IIPParams*)) {
    if (!flag) return;
    if ((comm_.get()->*post)(this)) {
      flag = false;
    } else {
      all = false;
    }
  };
  stop(moving_, &CBasePTZComm::StopMoving);
  stop(zooming_, &CBasePTZComm::StopZooming);
  stop(irisChanging_, &CBasePTZComm::StopIrisChanging);
  stop(focusing_, &CBasePTZComm::StopFocusing);
  return all ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CBasePTZControl::GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) {
  if (!comm_) return ipcapture::kPtzNotSent;
  if (capabilities == nullptr) return ipcapture::kPtzInvalidArgument;
  const int32_t result = comm_->GetCapabilities(capabilities);
  if (result == ipcapture::kPtzOk) {
    capabilities->fields[ipcapture::kPtzCapPresetCapacity] = comm_->GetPresetCapacity();
    capabilities->fields[ipcapture::kPtzCapPresetCount] = presets_.GetCount();
  }
  return result;
}

int32_t CBasePTZControl::GetPresetCount() { return static_cast<int32_t>(presets_.GetCount()); }

int32_t CBasePTZControl::GetPresetName(uint32_t index, char* buffer, uint32_t size) {
  std::wstring name;
  if (!presets_.GetName(index, name)) return ipcapture::kPtzNoSuchPreset;
  return CopyName(name, buffer, size);
}

int32_t CBasePTZControl::GetCurrentPresetName(char* buffer, uint32_t size) {
  std::wstring name;
  if (!presets_.GetCurrentName(name)) return ipcapture::kPtzNoSuchPreset;
  return CopyName(name, buffer, size);
}

int32_t CBasePTZControl::GoToPreset(uint32_t value, const char* name) {
  if (name == nullptr) return ipcapture::kPtzInvalidArgument;
  return presets_.GoTo(Utf8ToWide(name), value) ? ipcapture::kPtzOk : ipcapture::kPtzNoSuchPreset;
}

int32_t CBasePTZControl::AddPreset(const char* name) {
  if (name == nullptr) return ipcapture::kPtzInvalidArgument;
  return presets_.AddPreposition(Utf8ToWide(name));
}

int32_t CBasePTZControl::RemovePreset(const char* name) {
  if (name == nullptr) return ipcapture::kPtzInvalidArgument;
  return presets_.RemovePreposition(Utf8ToWide(name)) ? ipcapture::kPtzOk : ipcapture::kPtzNoSuchPreset;
}

}  // namespace orbisan
