#include "ptz/acti_proto_ptz_comm.h"

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "camera/http_sender.h"
#include "device/host_parameter.h"
#include "ptz/ip_params.h"
#include "ptz/scale_converter.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kHostSpeedMax = 16;
constexpr uint32_t kPresetCapacity = 32;

}  // namespace

CActiProtoPTZComm::CActiProtoPTZComm(IDriver* driver, uint16_t channel)
    : CBasePTZComm(driver, channel), http_(std::make_unique<Web::CHttpSender>(*driver->GetDeviceInfo())) {
  SetPresetCapacity(kPresetCapacity);
}

CActiProtoPTZComm::~CActiProtoPTZComm() {
  // The worker calls into this class: it ends before the members go.
  Close();
}

std::string CActiProtoPTZComm::CommandPath(const DEVICE_INFO& device, const std::string& command) {
  return CCgiPath(cgi::kEncoder, device).Items(command);
}

std::pair<uint32_t, uint32_t> CActiProtoPTZComm::ConvertMoveSpeed(uint32_t direction, uint32_t speed) {
  // Each call converts with its own converter: posting threads run concurrently.
  CScaleConverter converter(0, kHostSpeedMax);
  if (direction <= ipcapture::kPtzDownRight) {
    converter.SetTargetRange(1, 5);
  } else if (direction <= ipcapture::kPtzZoomOut) {
    converter.SetTargetRange(2, 7);
  } else {
    return {0, 0};
  }
  return {converter.Scale(speed), 0};
}

bool CActiProtoPTZComm::SendCommand(const std::string& command) {
  const std::string path = CommandPath(*Driver()->GetDeviceInfo(), command);
  std::lock_guard<std::mutex> lock(sendMutex_);
  return Transmit(path);
}

void CActiProtoPTZComm::CancelRequests() {
  closing_ = true;
  http_->Shutdown();  // sticky: a request that starts after this is refused too
}

bool CActiProtoPTZComm::Transmit(const std::string& path) {
  if (closing_) return false;
  std::string answer;
  // A camera that refuses a command says so in the answer, not in the status.
  return HUtils::RequestGet(*http_, path, answer) && !answer.empty() && answer.find("ERROR") == std::string::npos;
}

std::string CActiProtoPTZComm::AutoFocusCommand() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return autoFocusCommand_;
}

void CActiProtoPTZComm::SetFocusMode(IIPParams* params, bool manual) {
  if (params == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!focusModeControl_) return;
  }
  if (params->GetManualFocus() == manual) return;
  params->SetManualFocus(manual);
  SendCommand(manual ? std::string("FOCUS=MANUAL") : AutoFocusCommand());
}

void CActiProtoPTZComm::HandleWorkItem(CWorkItem* item) {
  switch (item->commandType) {
    case kPtzCommandMove: {
      const uint32_t direction = item->value1;
      const uint32_t speed = item->value2 & 0xFFu;
      if (speed != lastMoveSpeed_ && lastMoveSpeed_ != 0) SendCommand("MOVE=STOP");
      lastMoveSpeed_ = speed;
      static const char* const kMoves[] = {
          "MOVE=LEFT,%u",       "MOVE=RIGHT,%u",       "MOVE=UP,%u",           "MOVE=DOWN,%u", "MOVE=UPLEFT,%u,%u",
          "MOVE=UPRIGHT,%u,%u", "MOVE=DOWNLEFT,%u,%u", "MOVE=DOWNRIGHT,%u,%u", "ZOOM=TELE,%u", "ZOOM=WIDE,%u"};
      if (direction > ipcapture::kPtzZoomOut) return;
      const std::string command = Format(kMoves[direction], speed, speed);
      SetFocusMode(item->params, false);
      SendCommand(command);
      return;
    }
    case kPtzCommandFocus: {
      const char* command = nullptr;
      if (item->action == kPtzActionFocusFar) command = "FOCUS=FAR";
      if (item->action == kPtzActionFocusNear) command = "FOCUS=NEAR";
      if (command == nullptr) return;
      SetFocusMode(item->params, true);
      SendCommand(command);
      return;
    }
    case kPtzCommandStop: {
      const char* command = nullptr;
      if (item->action == kPtzActionStopMoving) command = "MOVE=STOP";
      if (item->action == kPtzActionStopZooming) command = "ZOOM=STOP";
      if (item->action == kPtzActionStopFocusing) command = "FOCUS=STOP";
      if (command == nullptr) return;
      SendCommand(command);
      lastMoveSpeed_ = 0;
      return;
    }
    case kPtzCommandUnzoom:
      SendCommand("ZOOM=DIRECT,0");
      SetFocusMode(item->params, false);
      return;
    default:
      // Iris, area zoom and centring do not exist as URL commands.
      return;
  }
}

int32_t CActiProtoPTZComm::GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) {
  if (capabilities == nullptr) return ipcapture::kPtzInvalidArgument;
  uint32_t* f = capabilities->fields;
  for (uint32_t i = 1; i <= 13; ++i) f[i] = 0;
  f[ipcapture::kPtzCapPanTilt] = 1;
  f[ipcapture::kPtzCapZoom] = 1;
  f[ipcapture::kPtzCapFocus] = 1;
  f[ipcapture::kPtzCapFocusMode] = 1;
  f[ipcapture::kPtzCapExtra] = 1;
  const std::string model = Driver()->GetDeviceInfo()->model;
  if (Contains(model, "8201") || Contains(model, "8211")) f[ipcapture::kPtzCapFocus] = 0;
  if (Contains(model, "KCM7911")) {
    f[ipcapture::kPtzCapFocusMode] = 0;
    f[ipcapture::kPtzCapExtra] = 0;
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    focusModeControl_ = f[ipcapture::kPtzCapFocusMode] == 1;
    if (Contains(model, "KCM")) autoFocusCommand_ = "FOCUS=ZOOM_AF";
  }
  if (Driver()->GetIntParameter(kParamChannelMode) == 2) SetQueueLimit(1);
  return ipcapture::kPtzOk;
}

bool CActiProtoPTZComm::SendPresetCommand(const std::string& command) {
  // Moves the host posted before this preset request reach the camera first:
  // a save stores where the head ends up, and a go-to is not undone by them.
  WaitIdle(presetWaitMs_);
  return SendCommand(command);
}

bool CActiProtoPTZComm::SavePreposition(uint32_t slot, const std::wstring&) {
  return SendPresetCommand(Format("PTZ_PRESET_SET=%u,1,0,0,65535,5,5,7,10,preset%u", slot + 1, slot + 1));
}

bool CActiProtoPTZComm::GoToPreposition(uint32_t slot, const std::wstring&, uint32_t) {
  return SendPresetCommand(Format("PTZ_PRESET_GO=%u", slot + 1));
}

bool CActiProtoPTZComm::RemovePreposition(uint32_t slot, const std::wstring&) {
  return SendPresetCommand(Format("PTZ_PRESET_SET=%u,0,0,0,65535,5,5,7,10,preset%u", slot + 1, slot + 1));
}

}  // namespace orbisan
