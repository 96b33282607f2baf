#include "ptz/acti_ptz_comm.h"

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "camera/http_sender.h"
#include "device/configuration.h"
#include "device/host_parameter.h"
#include "ptz/ip_params.h"
#include "ptz/scale_converter.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kHostSpeedLow = 1;
constexpr uint32_t kHostSpeedHigh = 16;
constexpr uint32_t kVidoPresetCapacity = 128;
constexpr uint32_t kPresetCapacity = 32;
constexpr int32_t kEncoderGroup = 2;
// Result codes of a handled item (code 11 is the unsent request of the HTTP layer).
constexpr uint32_t kInvalidPointer = 4;
constexpr uint32_t kUnexpectedCommand = 3;
constexpr uint32_t kRefused = HUtils::kRequestNoBody;

CResultDef Success() {
  CResultDef result;
  result.SetResultEx(3, 0, "%s", "");
  return result;
}

CResultDef WrongType(const char* method, int32_t type) {
  CResultDef result;
  result.SetResultEx(1, kUnexpectedCommand, "%s: Invalid command type (ID=%d)", method, type);
  return result;
}

uint8_t Low8(uint32_t value) { return static_cast<uint8_t>(value & 0xFFu); }

uint32_t ScaleHostSpeed(uint32_t speed, uint32_t low, uint32_t high) {
  CScaleConverter converter(kHostSpeedLow, kHostSpeedHigh);
  converter.SetTargetRange(low, high);
  return converter.Scale(speed);
}

}  // namespace

CActiPTZComm::CActiPTZComm(IDriver* driver, uint16_t channel)
    : CBasePTZComm(driver, channel), http_(std::make_unique<Web::CHttpSender>(*driver->GetDeviceInfo())) {
  const int32_t group = driver->GetIntParameter(kParamCameraGroup);
  cgiName_ = (group == kEncoderGroup || group == kNoIntParameter) ? "encoder" : "mpeg4";
  const uint32_t first = GetFirstPTZChannelID(driver);
  if (first >= 2) {
    channelPrefix_ = Format("CHANNEL=%u&", channel + first);
  } else if (driver->GetChannelCount() > 1) {
    channelPrefix_ = Format("CHANNEL=%u&", channel + 1u);
  }
  vido_ = Contains(driver->GetDeviceInfo()->model, "vido");
  SetPresetCapacity(vido_ ? kVidoPresetCapacity : kPresetCapacity);
}

CActiPTZComm::~CActiPTZComm() {
  // The worker calls into this class: it ends before the members go.
  Close();
}

std::pair<uint32_t, uint32_t> CActiPTZComm::ConvertMoveSpeed(uint32_t direction, uint32_t speed) {
  switch (direction) {
    case ipcapture::kPtzLeft:
    case ipcapture::kPtzRight:
      return {ScaleHostSpeed(speed, 3, 63), 0};
    case ipcapture::kPtzUp:
    case ipcapture::kPtzDown:
      return {0, ScaleHostSpeed(speed, 3, 63)};
    case ipcapture::kPtzUpLeft:
    case ipcapture::kPtzUpRight:
    case ipcapture::kPtzDownLeft:
    case ipcapture::kPtzDownRight: {
      const uint32_t converted = ScaleHostSpeed(speed, 3, 63);
      return {converted, converted};
    }
    case ipcapture::kPtzZoomIn:
    case ipcapture::kPtzZoomOut:
      return {ScaleHostSpeed(speed, 0, 3), 0};
    default:
      return {0, 0};
  }
}

uint32_t CActiPTZComm::ConvertFocusSpeed(uint32_t speed) { return ScaleHostSpeed(speed, 0, 3); }

int32_t CActiPTZComm::GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) {
  if (capabilities == nullptr) return ipcapture::kPtzInvalidArgument;
  uint32_t* f = capabilities->fields;
  for (uint32_t i = 1; i <= 13; ++i) f[i] = i <= 5 ? 1 : 0;
  f[ipcapture::kPtzCapExtra] = vido_ ? 1 : 0;
  return ipcapture::kPtzOk;
}

void CActiPTZComm::CancelRequests() {
  closing_ = true;
  http_->Shutdown();  // sticky: a request that starts after this is refused too
}

CActiPTZComm::Delivery CActiPTZComm::Transmit(const std::string& path) {
  if (closing_) return Delivery::kNotSent;
  std::string answer;
  if (!HUtils::RequestGet(*http_, path, answer)) return Delivery::kNotSent;
  // A camera that cannot take the message (bad digits, no serial port) says so in the answer.
  return answer.find("ERROR") == std::string::npos ? Delivery::kSent : Delivery::kRefused;
}

CResultDef CActiPTZComm::SendPTZCommandViaURL(const CPelcoDPtzCommand& command) {
  const DEVICE_INFO& device = *Driver()->GetDeviceInfo();
  const std::string path = CCgiPath(cgiName_, device).Items(channelPrefix_ + "SERIAL_HEX=" + command.Text());
  Delivery delivery;
  {
    std::lock_guard<std::mutex> lock(sendMutex_);
    delivery = Transmit(path);
  }
  CResultDef result = Success();
  if (delivery == Delivery::kSent) return result;
  // Results travel further than this object: the password stays out of them.
  const std::string shown = HUtils::MaskPassword(path, device.password);
  const char* method = "orbisan::CActiPTZComm::SendPTZCommandViaURL";
  if (delivery == Delivery::kRefused) {
    result.SetResultEx(2, kRefused, "%s: camera refused request \"%s\", device %s", method, shown.c_str(),
                       GetDeviceName().c_str());
  } else {
    result.SetResultEx(4, HUtils::kRequestNotSent, "%s: can not send request \"%s\" to camera%s", method, shown.c_str(),
                       GetDeviceName().c_str());
  }
  return result;
}

void CActiPTZComm::HandleWorkItem(CWorkItem* item) { ReportResult(HandleCommand(item)); }

void CActiPTZComm::ReportResult(const CResultDef& result) {
  // Unsent requests (level 4) are not logged: a camera that is away would flood the log.
  if (result.GetCode() != 0 && !result.GetMessage().empty() && result.GetCategory() != 4) {
    DebugMessage(result.GetCategory(), "%s", result.GetMessage().c_str());
  }
}

CResultDef CActiPTZComm::HandleCommand(CWorkItem* item) {
  switch (item->commandType) {
    case kPtzCommandMove:
      return ProcessMoveCommand(item);
    case kPtzCommandFocus:
      return ProcessFocusCommand(item);
    case kPtzCommandIris:
      return ProcessIrisCommand(item);
    case kPtzCommandStop:
      return ProcessStopCommand(item);
    case kPtzCommandUnzoom:
      return SendPTZCommandViaURL(
          CPelcoDPtzCommand().Command2(pelco::kGoToPreset).Data1(0).Data2(pelco::kUnzoomPreset));
    default: {
      CResultDef result;
      result.SetResultEx(1, kUnexpectedCommand, "%s: unexpected command ID=%u", "orbisan::CActiPTZComm::HandleWorkItem",
                         static_cast<uint32_t>(item->commandType));
      return result;
    }
  }
}

CResultDef CActiPTZComm::ProcessMoveCommand(CWorkItem* item) {
  if (item->commandType != kPtzCommandMove) {
    return WrongType("orbisan::CActiPTZComm::ProcessMoveCommand", item->commandType);
  }
  const uint32_t direction = item->value1;
  CPelcoDPtzCommand move;
  int pan = 0;   // -1 left, 1 right
  int tilt = 0;  // 1 up, -1 down
  switch (direction) {
    case ipcapture::kPtzLeft:
      pan = -1;
      break;
    case ipcapture::kPtzRight:
      pan = 1;
      break;
    case ipcapture::kPtzUp:
      tilt = 1;
      break;
    case ipcapture::kPtzDown:
      tilt = -1;
      break;
    case ipcapture::kPtzUpLeft:
      pan = -1, tilt = 1;
      break;
    case ipcapture::kPtzUpRight:
      pan = 1, tilt = 1;
      break;
    case ipcapture::kPtzDownLeft:
      pan = -1, tilt = -1;
      break;
    case ipcapture::kPtzDownRight:
      pan = 1, tilt = -1;
      break;
    default:
      break;
  }
  uint8_t panSpeed = 0;
  uint8_t tiltSpeed = 0;
  if (pan != 0) {
    move.Command2(pan < 0 ? pelco::kLeft : pelco::kRight, pan < 0 ? pelco::kRight : pelco::kLeft);
    panSpeed = Low8(item->value2);
    move.Data1(panSpeed);
  }
  if (tilt != 0) {
    move.Command2(tilt > 0 ? pelco::kUp : pelco::kDown, tilt > 0 ? pelco::kDown : pelco::kUp);
    tiltSpeed = Low8(item->value3);
    move.Data2(tiltSpeed);
  }
  const bool zoom = direction == ipcapture::kPtzZoomIn || direction == ipcapture::kPtzZoomOut;
  if (panSpeed != 0 || tiltSpeed != 0 || zoom) {
    // Moving the view hands focus and iris back to the camera.
    SetManualFocus(item->params, false);
    SetManualIris(item->params, false);
  }
  if (!zoom) return SendPTZCommandViaURL(move);
  const uint8_t zoomSpeed = Low8(item->value2);
  if (zoomSpeed != lastZoomSpeed_) {
    lastZoomSpeed_ = zoomSpeed;
    CResultDef result = SendPTZCommandViaURL(CPelcoDPtzCommand().Command2(pelco::kSetZoomSpeed).Data2(zoomSpeed));
    if (result.GetCode() != 0) return result;
  }
  const bool tele = direction == ipcapture::kPtzZoomIn;
  return SendPTZCommandViaURL(CPelcoDPtzCommand().Command2(tele ? pelco::kZoomTele : pelco::kZoomWide,
                                                           tele ? pelco::kZoomWide : pelco::kZoomTele));
}

CResultDef CActiPTZComm::ProcessFocusCommand(CWorkItem* item) {
  if (item->commandType != kPtzCommandFocus) {
    return WrongType("orbisan::CActiPTZComm::ProcessFocusCommand", item->commandType);
  }
  CResultDef result = SetManualFocus(item->params, true);
  if (result.GetCode() != 0) return result;
  const uint8_t speed = Low8(item->value1);
  if (speed != lastFocusSpeed_) {
    lastFocusSpeed_ = speed;
    result = SendPTZCommandViaURL(CPelcoDPtzCommand().Command2(pelco::kSetFocusSpeed).Data2(speed));
    if (result.GetCode() != 0) return result;
  }
  CPelcoDPtzCommand focus;
  if (item->action == kPtzActionFocusFar) {
    focus.Command1(0, pelco::kFocusNear).Command2(pelco::kFocusFar);
  } else {
    focus.Command1(pelco::kFocusNear).Command2(0, pelco::kFocusFar);
  }
  return SendPTZCommandViaURL(focus);
}

CResultDef CActiPTZComm::ProcessIrisCommand(CWorkItem* item) {
  if (item->commandType != kPtzCommandIris) {
    return WrongType("orbisan::CActiPTZComm::ProcessIrisCommand", item->commandType);
  }
  CResultDef result = SetManualIris(item->params, true);
  if (result.GetCode() != 0) return result;
  const bool open = item->action == kPtzActionIrisOpen;
  return SendPTZCommandViaURL(CPelcoDPtzCommand().Command1(open ? pelco::kIrisOpen : pelco::kIrisClose,
                                                           open ? pelco::kIrisClose : pelco::kIrisOpen));
}

CResultDef CActiPTZComm::ProcessStopCommand(CWorkItem* item) {
  if (item->commandType != kPtzCommandStop) {
    return WrongType("orbisan::CActiPTZComm::ProcessStopCommand", item->commandType);
  }
  return SendPTZCommandViaURL(CPelcoDPtzCommand());
}

CResultDef CActiPTZComm::SetManualFocus(IIPParams* params, bool manual) {
  if (params == nullptr) {
    CResultDef result;
    result.SetResultEx(4, kInvalidPointer, "%s: Invalid pointer to IIPParams instance!",
                       "orbisan::CActiPTZComm::SetManualFocus");
    return result;
  }
  if (params->GetManualFocus() == manual) return Success();
  params->SetManualFocus(manual);
  if (autoFocusSent_) return Success();
  CResultDef result = SendPTZCommandViaURL(CPelcoDPtzCommand().Command2(pelco::kAutoFocus));
  autoFocusSent_ = result.GetCode() == 0;
  return result;
}

CResultDef CActiPTZComm::SetManualIris(IIPParams* params, bool manual) {
  if (params == nullptr) {
    CResultDef result;
    result.SetResultEx(4, kInvalidPointer, "%s",
                       "orbisan::CActiPTZComm::SetManualIris: Invalid pointer to IIPParams instance!");
    return result;
  }
  if (params->GetManualIris() == manual) return Success();
  params->SetManualIris(manual);
  if (autoIrisSent_) return Success();
  CResultDef result = SendPTZCommandViaURL(CPelcoDPtzCommand().Command2(pelco::kAutoIris));
  autoIrisSent_ = result.GetCode() == 0;
  return result;
}

bool CActiPTZComm::SendPreset(uint8_t command, uint32_t slot) {
  if (slot >= 0xFF) return false;
  // Moves posted before this request reach the head first: a save stores
  // where the head ends up, and a go-to is not undone by them.
  WaitIdle(presetWaitMs_);
  const auto number = static_cast<uint8_t>(slot + 1);
  return SendPTZCommandViaURL(CPelcoDPtzCommand().Command2(command).Data2(number)).GetCode() == 0;
}

bool CActiPTZComm::SavePreposition(uint32_t slot, const std::wstring&) { return SendPreset(pelco::kSetPreset, slot); }

bool CActiPTZComm::GoToPreposition(uint32_t slot, const std::wstring&, uint32_t) {
  return SendPreset(pelco::kGoToPreset, slot);
}

bool CActiPTZComm::RemovePreposition(uint32_t slot, const std::wstring&) {
  return SendPreset(pelco::kClearPreset, slot);
}

}  // namespace orbisan
