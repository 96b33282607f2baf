#include "device/configuration.h"

#include <cstdlib>

#include "device/configuration_text.h"
#include "device/idriver.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"
#include "xml/xml_parser.h"

namespace orbisan {

namespace {

std::string ToUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Leading decimal digits after optional white space; no sign accepted.
// Saturates at the u32 maximum, which callers treat as "too large".
uint32_t LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value >= UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(value);
}

// The element holding this device's settings: its own Device element when
// the file has one, else the Default element.
std::string DeviceBasePath(CXMLParser& parser, const DEVICE_INFO& device) {
  std::string own = "Configuration/Device[@address=" + XPathLiteral(device.address) + "]" +
                    Format("[@port=\"%u\"]", static_cast<unsigned>(device.port));
  return parser.NodeExists(own) ? own : "Configuration/Default";
}

bool HasRtpOverRtspExemption(const std::string& model) {
  const std::string upper = ToUpper(model);
  for (const char* name : {"VIDO AMU", "ACTI KCM", "ACTI ACM"}) {
    if (upper.find(name) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string ConfigurationFilePath(const std::string& driverName, const std::string& hostDirectory) {
  const char* overridePath = std::getenv(kConfigurationPathVariable);
  if (overridePath != nullptr && overridePath[0] != '\0') return overridePath;
  if (driverName.empty()) return {};
  const std::string fileName = driverName + ".xml";
  if (hostDirectory.empty()) return fileName;
  if (hostDirectory.back() == '/') return hostDirectory + fileName;
  return hostDirectory + "/" + fileName;
}

std::string ConfigurationFilePath(IDriver* driver) {
  if (driver == nullptr) return {};
  return ConfigurationFilePath(driver->GetDriverName(), driver->GetHostDirectory());
}

CConfiguration::CConfiguration(const std::string& driverName, const std::string& hostDirectory,
                               const DEVICE_INFO& device)
    : device_(device), path_(ConfigurationFilePath(driverName, hostDirectory)) {}

CConfiguration::CConfiguration(IDriver* driver) : path_(ConfigurationFilePath(driver)) {
  if (driver != nullptr && driver->GetDeviceInfo() != nullptr) device_ = *driver->GetDeviceInfo();
}

RtpSettings CConfiguration::GetRtpSettings() const {
  RtpSettings settings;
  if (path_.empty()) return settings;
  CXMLParser parser;
  if (!parser.Load(path_)) return settings;
  const std::string base = DeviceBasePath(parser, device_);
  const std::string mode = ToUpper(parser.GetNodeText(base + "/RTPMode"));
  settings.rtpMode = mode.find("RTPOVERRTSP") != std::string::npos ? 2 : 0;
  if (settings.rtpMode == 2 && HasRtpOverRtspExemption(device_.model)) settings.rtpMode = 0;
  const uint32_t size = LeadingNumber(parser.GetNodeText(base + "/RTPPacketSize"));
  if (size > 100) settings.rtpPacketSize = size;
  // Below 64 KiB an HD key frame burst cannot fit; such a value is a slip.
  const uint32_t buffer = LeadingNumber(parser.GetNodeText(base + "/RTPReceiveBuffer"));
  if (buffer >= 65536 && buffer != UINT32_MAX) settings.receiveBufferBytes = buffer;
  parser.Close();
  return settings;
}

uint32_t CConfiguration::GetStreamingMode() const {
  if (path_.empty()) return 0;
  CXMLParser parser;
  if (!parser.Load(path_)) return 0;
  const std::string text = ToLower(parser.GetNodeText("Configuration/StreamingMode"));
  parser.Close();
  const size_t multicast = text.find("multicast");
  if (multicast == std::string::npos) return 0;
  return text.find("primary", multicast) != std::string::npos ? 1 : 2;
}

uint32_t CConfiguration::GetRebootHoldOffSeconds() const {
  if (path_.empty()) return kMinRebootHoldOffSeconds;
  CXMLParser parser;
  if (!parser.Load(path_)) return kMinRebootHoldOffSeconds;
  const uint32_t value = LeadingNumber(parser.GetNodeText(DeviceBasePath(parser, device_) + "/RebootHoldOffSeconds"));
  parser.Close();
  // A shorter hold-off would let a busy camera be rebooted over and over.
  return value > kMinRebootHoldOffSeconds ? value : kMinRebootHoldOffSeconds;
}

uint32_t GetFirstPTZChannelID(const std::string& configPath, const DEVICE_INFO& device) {
  uint32_t result = 1;
  if (configPath.empty()) return result;
  CXMLParser parser;
  if (!parser.Load(configPath)) return result;
  const std::string path = DeviceBasePath(parser, device) + "/FirstPTZChannelID";
  if (parser.NodeExists(path)) {
    const uint32_t value = LeadingNumber(parser.GetNodeText(path));
    if (value != 0 && value != UINT32_MAX) result = value;
  }
  parser.Close();
  return result;
}

uint32_t GetFirstPTZChannelID(IDriver* driver) {
  if (driver == nullptr || driver->GetDeviceInfo() == nullptr) return 1;
  return GetFirstPTZChannelID(ConfigurationFilePath(driver), *driver->GetDeviceInfo());
}

ViewSettings GetViewSettings(const std::string& configPath, const DEVICE_INFO& device) {
  ViewSettings settings;
  if (configPath.empty()) return settings;
  CXMLParser parser;
  if (!parser.Load(configPath)) return settings;
  const std::string base = DeviceBasePath(parser, device);
  if (parser.NodeExists(base + "/StreamMode")) {
    const std::string text = ToUpper(parser.GetNodeText(base + "/StreamMode"));
    if (!text.empty()) settings.streamMode = TextToStreamMode(text);
  }
  if (parser.NodeExists(base + "/MountingType")) {
    const std::string text = ToUpper(parser.GetNodeText(base + "/MountingType"));
    if (!text.empty()) settings.mountingType = TextToMountingType(text);
  }
  parser.Close();
  return settings;
}

ViewSettings GetViewSettings(IDriver* driver) {
  if (driver == nullptr || driver->GetDeviceInfo() == nullptr) return {};
  return GetViewSettings(ConfigurationFilePath(driver), *driver->GetDeviceInfo());
}

}  // namespace orbisan
