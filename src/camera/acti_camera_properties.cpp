#include "camera/acti_camera_properties.h"

#include "camera/h_utils.h"
#include "device/configuration.h"
#include "platform/host_directory.h"

namespace orbisan {

namespace {

void AppendRates(std::string& text, const std::set<uint32_t>& rates) {
  bool first = true;
  for (uint32_t rate : rates) {
    text += HUtils::FormatString(first ? "%u" : ",%u", rate);
    first = false;
  }
}

}  // namespace

CActiCameraProperties::CActiCameraProperties(const DEVICE_INFO& device, uint32_t flag)
    : CBaseCameraProperties(device, flag),
      http_(device),
      configPath_(ConfigurationFilePath("Strandline", HostDirectory())) {}

bool CActiCameraProperties::Get(const std::string& url, std::string& answer) {
  return HUtils::RequestGet(http_, url, answer);
}

bool CActiCameraProperties::SendCgiCommand(std::string_view family, const std::string& params) {
  std::string answer;
  return Get(Path(family).Channel(channels_ >= 2 ? 1 : 0).Items(params), answer) &&
         answer.find("ERROR") == std::string::npos;
}

bool CActiCameraProperties::Query(uint32_t& status) {
  if (!QuerySystemInfo()) {
    status = 3;
    return false;
  }
  if (Stopping()) return true;
  if (!QueryConfiguration()) {
    status = 3;
    return false;
  }
  if (Stopping()) return true;
  if (streamCaps_[0].resolutions.empty() || streamCaps_[0].frameRates.empty()) {
    if (!FillDefaults()) {
      status = 3;
      return false;
    }
  }
  if (Stopping()) return true;
  QueryB2Switch();
  QueryPtzVendor();
  QueryDiskState();
  return true;
}

std::string CActiCameraProperties::StreamCapabilityText() const {
  std::string text;
  if (detailedCaps_.empty()) {
    text = "Recording=";
    for (const StreamResolution& r : streamCaps_[0].resolutions) {
      text += HUtils::FormatString("%ux%u:", r.width, r.height);
      AppendRates(text, streamCaps_[0].frameRates);
      text += ";";
    }
    return text + ".";
  }
  for (const auto& [stream, table] : detailedCaps_) {
    text += stream == 1 ? "Live=" : (stream == 2 ? "Remote=" : "Recording=");
    for (const auto& [size, rates] : table) {
      text += HUtils::FormatString("%ux%u:", size.first, size.second);
      AppendRates(text, rates);
      text += ";";
    }
    text += ".";
  }
  return text;
}

void CActiCameraProperties::GetProperties(ipcapture::ICapabilityStore& store) {
  if (deviceType_ == 1) {
    store.SetCapability(19, 1);
    store.SetCapability(20, 1);
    store.SetCapability(18, 1);
  }
  struct Row {
    const char* name;
    uint32_t type;
    std::string value;
  };
  auto number = [](uint32_t v) { return std::to_string(v); };
  const Row rows[] = {
      {"Video standard", 0, number(ntsc_)},
      {"Camera Brand", 1, brand_},
      {"Fps in Percents", 0, number(fpsInPercents_ ? 1 : 0)},
      {"Day Night", 0, number(dayNight_ ? 1 : 0)},
      {"Camera group", 0, number(cameraGroup_)},
      {"PTZ Protocol", 0, number(ptzProtocol_)},
      {"Rtsp port string", 1, rtspPorts_},
      {"Firmware version", 1, firmware_},
      {"MAC address", 1, mac_},
      {"Disable B2 and Auth", 0, number(b2DisableAccepted_)},
      {"Disable B2 string", 1, b2Key_},
      {"Device Type", 0, number(deviceType_)},
      {"Channel Mode", 0, number(channelMode_)},
      {"Mounting Type", 0, number(mountingType_)},
      {"Stream capabilities", 1, StreamCapabilityText()},
      {"Privacy mask count", 0, number(privacyMaskCount_)},
  };
  uint32_t id = 1;
  for (const Row& row : rows) {
    ipcapture::ICapabilityItem* item = store.CreateItem(id++);
    if (item == nullptr) continue;
    item->SetName(row.name);
    item->SetType(row.type);
    item->SetValue(row.value.empty() ? "(none)" : row.value.c_str());
    item->SetFlags(0);
  }
}

}  // namespace orbisan
