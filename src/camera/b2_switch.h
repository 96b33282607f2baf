#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orbisan {

// The camera's switch for the B2 header in front of the RTP payload, always
// set together with RTSP authentication. Firmware knows it by one of two
// names; older firmware only by the second.
inline constexpr const char* kB2SwitchNames[] = {"RTP_B2", "B2_RTP_APPENDED"};

// "NAME&RTSP_AUTHEN": asks for both values.
std::string B2SwitchQuery(std::string_view name);
// "NAME=VALUE&RTSP_AUTHEN=VALUE"
std::string B2SwitchSetting(std::string_view name, std::string_view value);

struct B2Probe {
  const char* name = nullptr;  // null: the camera knows neither name
  bool offAccepted = false;    // it took the value 2 (header and authentication off)
};

// Finds the switch by trial: asks for the first name, then, only when
// askSecondName, for the second; with the name found, tries to set 2.
// `send` sends system items and says whether the camera accepted them.
// Without askSecondName the second name is taken on trust.
B2Probe ProbeB2Switch(const std::function<bool(const std::string& items)>& send, bool askSecondName);

}  // namespace orbisan
