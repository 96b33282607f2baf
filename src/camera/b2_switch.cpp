#include "camera/b2_switch.h"

namespace orbisan {

std::string B2SwitchQuery(std::string_view name) { return std::string(name) + "&RTSP_AUTHEN"; }

std::string B2SwitchSetting(std::string_view name, std::string_view value) {
  std::string items(name);
  items.append("=").append(value).append("&RTSP_AUTHEN=").append(value);
  return items;
}

B2Probe ProbeB2Switch(const std::function<bool(const std::string& items)>& send, bool askSecondName) {
  const char* name = kB2SwitchNames[0];
  if (!send(B2SwitchQuery(name))) {
    name = kB2SwitchNames[1];
    if (askSecondName && !send(B2SwitchQuery(name))) return {};
  }
  return {name, send(B2SwitchSetting(name, "2"))};
}

}  // namespace orbisan
