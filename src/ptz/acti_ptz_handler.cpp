#include "ptz/acti_ptz_handler.h"

#include <new>

#include "device/host_parameter.h"
#include "ptz/acti_ptz_control.h"

namespace orbisan {

std::string CActiPTZHandler::CleanMac(const std::string& text) {
  std::string clean;
  for (char c : text) {
    if (c >= 'a' && c <= 'z') {
      clean.push_back(static_cast<char>(c - 'a' + 'A'));
    } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      clean.push_back(c);
    }
  }
  return clean;
}

bool CActiPTZHandler::GenerateXMLStorageFileName(std::string& fileName) {
  const std::string mac = Driver()->GetStringParameter(kParamMacAddress);
  if (mac.empty()) return false;
  const std::string clean = CleanMac(mac);
  if (clean.empty() || clean.find("NONE") != std::string::npos) {
    Driver()->DebugMessage(kLogError, "%s: cannot retrieve MAC address from camera %s",
                           "orbisan::CActiPTZHandler::GenerateXMLStorageFileName", Driver()->GetDeviceName().c_str());
    return false;
  }
  const std::string& pattern = FileNamePattern();
  const size_t at = pattern.find("%s");
  if (at == std::string::npos) return false;
  // The pattern carries the host's name text: not a format, and never a way
  // out of the host's directory.
  if (pattern.find('/') != std::string::npos) return false;
  fileName = pattern.substr(0, at) + clean + pattern.substr(at + 2);
  return true;
}

CBasePTZControl* CActiPTZHandler::CreatePTZControl(uint32_t channel, bool storage) {
  return new (std::nothrow) CActiPTZControl(Driver(), channel, storage);
}

}  // namespace orbisan
