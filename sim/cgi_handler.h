// Answers the camera's CGI commands in the family's text grammar.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/camera_clock.h"
#include "sim/dio_register.h"
#include "sim/pelco_d_dome.h"
#include "sim/ptz_head.h"
#include "sim/settings_table.h"

namespace strandline::sim {

struct CgiResponse {
  int status = 200;        // 200, 401 (login refused) or 404 (no such CGI)
  std::string body;        // CR LF ended lines
  bool reboot = false;     // SAVE_REBOOT was accepted: reboot once the answer is out
  int motion_channel = 0;  // GET_CTRL_MSG=MD,3: answer with this channel's motion stream instead
};

// Facts the answers need that only exist once the camera is running.
struct UnitAddress {
  std::string mac;
  std::vector<uint16_t> rtsp_ports;  // one per video input
  uint16_t http_port = 0;
};

// Turns "/cgi-bin/<family>?<query>" into an answer. Queries answer
// "NAME='value'", SYSTEM_INFO answers "Name = value", accepted changes answer
// "OK: NAME=VALUE", and anything unknown or refused answers a line holding
// "ERROR". The login travels in the query (USER=...&PWD=...); CHANNEL=n
// selects the channel for the items after it. Thread-safe.
class CgiHandler {
 public:
  CgiHandler(SettingsTable& settings, CameraClock& clock, std::string user, std::string password);

  void SetUnitAddress(const UnitAddress& address);
  // The I/O register that DIO_STATUS and DIO_OUTPUT reach; none until set.
  void SetDioRegister(DioRegister* dio) { dio_ = dio; }
  // Whether a storage card is mounted, as DISK_STATE reports it; the model decides until set.
  void SetDiskState(std::function<bool()> mounted) { disk_mounted_ = std::move(mounted); }
  // An answer that replaces the camera's own for one item exactly as sent
  // ("SYSTEM_INFO", "VIDEO_STREAM=DUAL"), as odd firmware gives it; nullopt
  // gives the item back its own answer.
  void SetAnswer(const std::string& item, std::optional<std::string> answer);

  // family: "system", "encoder", "mpeg4" or "update". header_authenticated:
  // the HTTP layer already accepted Basic or Digest credentials, so a query
  // without a login is let through.
  CgiResponse Handle(std::string_view family, std::string_view query, bool header_authenticated) const;

  static bool IsFamily(std::string_view family);
  // The PTZ head that the encoder CGI's PTZ commands steer (PTZ models only).
  const PtzHead& Ptz() const { return ptz_; }
  void HoldPtz(bool hold) const { ptz_.Hold(hold); }
  // The domes on the serial ports that "SERIAL_HEX" reaches (Pelco-D models).
  const SerialPorts& Serial() const { return serial_; }

 private:
  std::string SystemInfo() const;
  std::string ConfigDump() const;
  std::string FrameRateCapability(std::string_view args) const;
  std::string ResolutionCapability(bool second_stream) const;
  void Query(std::string_view name, int channel, std::string& out, bool& reboot) const;
  void Change(std::string_view name, const std::string& value, int channel, std::string& out) const;

  SettingsTable& settings_;
  CameraClock& clock_;
  const std::string user_;
  const std::string password_;
  mutable std::mutex address_mutex_;
  UnitAddress address_;
  mutable PtzHead ptz_;
  mutable SerialPorts serial_;
  DioRegister* dio_ = nullptr;
  std::function<bool()> disk_mounted_;
  mutable std::mutex answers_mutex_;
  std::map<std::string, std::string> answers_;
};

}  // namespace strandline::sim
