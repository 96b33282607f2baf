#include "sim/cgi_handler.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "sim/cgi_query.h"

namespace strandline::sim {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr int kFrameRates[] = {30, 25, 20, 15, 12, 10, 8, 6, 5, 4, 3, 2, 1};

bool Serves(std::string_view family, std::string_view name) {
  if (family == "system") {
    return name == "SYSTEM_INFO" || name == "DISK_STATE" || name == "DATE_CONFIG" || name == "SAVE_REBOOT" ||
           name == "RTP_B2" || name == "B2_RTP_APPENDED" || name == "RTSP_AUTHEN" ||
           name.starts_with("V2_STREAMING_") || name == "V2_AUDIO_ENABLED" || name == "AUDIO_IN_FORMAT";
  }
  if (family == "encoder") {
    return name.starts_with("VIDEO_") || name.starts_with("NIGHT_") || name.starts_with("PRIVACY_REGION") ||
           name == "FISHEYE_INSTALL" || name == "FPS_CAP_QUERY_ALL" || name == "PTZ_VENDOR" || PtzHead::IsCommand(name);
  }
  if (family == "mpeg4") return name.starts_with("VIDEO_") || name.starts_with("NIGHT_");
  if (family == "update") return name == "CONFIG_GET";
  return false;
}

// Names that only ever answer and cannot be written.
bool IsReadOnly(std::string_view name) {
  return name == "SYSTEM_INFO" || name == "CONFIG_GET" || name == "DISK_STATE" || name == "PTZ_VENDOR" ||
         name == "SAVE_REBOOT" || name == "VIDEO_RESOLUTION_CAP" || name == "VIDEO2_RESOLUTION_CAP";
}

void Line(std::string& out, std::string_view text) {
  out.append(text);
  out.append(kLineEnd);
}

void QueryLine(std::string& out, std::string_view name, std::string_view value) {
  out.append(name).append("='").append(value).append("'").append(kLineEnd);
}

void ErrorLine(std::string& out, std::string_view name, const std::string* value) {
  out.append("ERROR: ").append(name);
  if (value) out.append("=").append(*value);
  out.append(kLineEnd);
}

std::string RateList(int max_fps) {
  std::string list;
  for (int rate : kFrameRates) {
    if (rate > max_fps) continue;
    if (!list.empty()) list.push_back(',');
    list += std::to_string(rate);
  }
  return list;
}

}  // namespace

CgiHandler::CgiHandler(SettingsTable& settings, CameraClock& clock, std::string user, std::string password)
    : settings_(settings),
      clock_(clock),
      user_(std::move(user)),
      password_(std::move(password)),
      serial_(settings.ChannelCount()) {}

void CgiHandler::SetUnitAddress(const UnitAddress& address) {
  std::lock_guard<std::mutex> lock(address_mutex_);
  address_ = address;
}

void CgiHandler::SetAnswer(const std::string& item, std::optional<std::string> answer) {
  std::lock_guard<std::mutex> lock(answers_mutex_);
  if (answer) {
    answers_[item] = std::move(*answer);
  } else {
    answers_.erase(item);
  }
}

bool CgiHandler::IsFamily(std::string_view family) {
  return family == "system" || family == "encoder" || family == "mpeg4" || family == "update";
}

CgiResponse CgiHandler::Handle(std::string_view family, std::string_view query, bool header_authenticated) const {
  CgiResponse response;
  if (!IsFamily(family)) {
    response.status = 404;
    return response;
  }
  auto items = ParseCgiQuery(query);
  std::optional<std::string> user;
  std::optional<std::string> password;
  for (const auto& item : items) {
    if (item.name == "USER") user = item.value.value_or("");
    if (item.name == "PWD") password = item.value.value_or("");
  }
  // A login in the query must be right even when the HTTP layer accepted one.
  bool query_login = user || password;
  bool query_ok = user && password && *user == user_ && *password == password_;
  if ((query_login && !query_ok) || (!query_login && !header_authenticated)) {
    response.status = 401;
    return response;
  }

  int channel = 1;
  bool channel_valid = true;
  for (const auto& item : items) {
    if (item.name == "USER" || item.name == "PWD") continue;
    if (item.name == "CHANNEL") {
      int requested = 0;
      bool number = item.value && !item.value->empty() && item.value->size() < 4 &&
                    std::all_of(item.value->begin(), item.value->end(), [](char c) { return c >= '0' && c <= '9'; });
      if (number) requested = std::stoi(*item.value);
      channel_valid = number && requested >= 1 && requested <= settings_.ChannelCount();
      if (channel_valid) {
        channel = requested;
      } else {
        ErrorLine(response.body, item.name, item.value ? &*item.value : nullptr);
      }
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(answers_mutex_);
      auto fixed = answers_.find(item.value ? item.name + "=" + *item.value : item.name);
      if (fixed != answers_.end()) {
        response.body += fixed->second;
        continue;
      }
    }
    const bool io_family = family == "encoder" || family == "mpeg4";
    if (channel_valid && io_family && dio_ != nullptr && DioRegister::Serves(item.name)) {
      dio_->Answer(item.name, item.value, channel, response.body);
      continue;
    }
    if (channel_valid && io_family && item.name == "SERIAL_HEX" && settings_.model().ptz_vendor == "PELCO-D") {
      // The camera writes the bytes to the channel's serial port, after checking them.
      if (item.value && serial_.Write(channel, *item.value)) {
        response.body.append("OK: ").append(item.name).append("=").append(*item.value).append(kLineEnd);
      } else {
        ErrorLine(response.body, item.name, item.value ? &*item.value : nullptr);
      }
      continue;
    }
    if (channel_valid && family == "encoder" && item.name == "GET_CTRL_MSG" && item.value == "MD,3") {
      response.motion_channel = channel;
      continue;
    }
    if (!channel_valid || !Serves(family, item.name)) {
      ErrorLine(response.body, item.name, item.value ? &*item.value : nullptr);
      continue;
    }
    if (item.value) {
      Change(item.name, *item.value, channel, response.body);
    } else {
      Query(item.name, channel, response.body, response.reboot);
    }
  }
  // A request that asked nothing (only a login, or only a selector) still gets a line.
  if (response.body.empty() && response.motion_channel == 0) Line(response.body, "ERROR: no command");
  return response;
}

void CgiHandler::Query(std::string_view name, int channel, std::string& out, bool& reboot) const {
  const CameraModel& model = settings_.model();
  if (name == "SYSTEM_INFO") {
    out += SystemInfo();
  } else if (name == "CONFIG_GET") {
    out += ConfigDump();
  } else if (name == "SAVE_REBOOT") {
    Line(out, "OK: SAVE_REBOOT");
    reboot = true;
  } else if (name == "DISK_STATE") {
    QueryLine(out, name, (disk_mounted_ ? disk_mounted_() : model.storage) ? "MOUNT" : "NONE");
  } else if (name == "DATE_CONFIG") {
    QueryLine(out, name, clock_.Text());
  } else if (name == "PTZ_VENDOR" && !model.ptz_vendor.empty()) {
    QueryLine(out, name, model.ptz_vendor);
  } else if (name == "VIDEO_RESOLUTION_CAP" || (name == "VIDEO2_RESOLUTION_CAP" && model.dual_stream)) {
    QueryLine(out, name, ResolutionCapability(name == "VIDEO2_RESOLUTION_CAP"));
  } else if (name == "PRIVACY_REGION" && model.privacy_zones > 0) {
    for (int zone = 1; zone <= model.privacy_zones; ++zone) {
      std::string key = "PRIVACY_REGION" + std::to_string(zone);
      QueryLine(out, key, settings_.Get(key).value_or(""));
    }
  } else if (auto value = settings_.Get(name, channel); value && !IsReadOnly(name)) {
    QueryLine(out, name, *value);
  } else {
    ErrorLine(out, name, nullptr);
  }
}

void CgiHandler::Change(std::string_view name, const std::string& value, int channel, std::string& out) const {
  std::string answer;
  if (PtzHead::IsCommand(name)) {
    if (settings_.model().ptz && ptz_.Apply(name, value)) {
      out.append("OK: ").append(name).append("=").append(value).append(kLineEnd);
      return;
    }
  } else if (name == "FPS_CAP_QUERY_ALL") {
    answer = FrameRateCapability(value);
    if (!answer.empty()) {
      QueryLine(out, name, answer);
      return;
    }
  } else if (name == "DATE_CONFIG") {
    if (clock_.Set(value)) {
      Line(out, "OK: DATE_CONFIG=" + value);
      return;
    }
  } else if (!IsReadOnly(name) && settings_.Set(name, value, channel) == SetResult::kOk) {
    out.append("OK: ").append(name).append("=").append(value).append(kLineEnd);
    return;
  }
  ErrorLine(out, name, &value);
}

std::string CgiHandler::ResolutionCapability(bool second_stream) const {
  const CameraModel& model = settings_.model();
  std::string list;
  for (const auto& r : model.resolutions) {
    if (second_stream && r.width > 640) continue;
    if (!list.empty()) list.push_back(',');
    list += model.ResolutionCode(r);
  }
  return list;
}

// "MODE,CODEC,RES" answers the frame rates of one size; "DUAL,CODEC,RES,CODEC,RES"
// answers both streams' rates separated by ";". Empty when the request is refused.
std::string CgiHandler::FrameRateCapability(std::string_view args) const {
  const CameraModel& model = settings_.model();
  auto parts = Split(args, ',');
  auto modes = model.StreamModes();
  auto rates_for = [&model](std::string_view codec, std::string_view code) -> std::string {
    const ModelResolution* r = model.FindResolution(code);
    if (!r || !model.SupportsCodec(codec)) return "";
    return RateList(r->max_fps);
  };
  if (parts.size() == 3 && std::find(modes.begin(), modes.end(), parts[0]) != modes.end()) {
    return rates_for(parts[1], parts[2]);
  }
  if (parts.size() == 5 && parts[0] == "DUAL" && model.dual_stream) {
    std::string first = rates_for(parts[1], parts[2]);
    std::string second = rates_for(parts[3], parts[4]);
    if (first.empty() || second.empty()) return "";
    return first + ";" + second;
  }
  return "";
}

std::string CgiHandler::SystemInfo() const {
  const CameraModel& model = settings_.model();
  std::string mac;
  {
    std::lock_guard<std::mutex> lock(address_mutex_);
    mac = address_.mac;
  }
  std::string out;
  auto line = [&out](std::string_view name, std::string_view value) {
    out.append(name).append(" = ").append(value).append(kLineEnd);
  };
  line("Production ID", model.production_id);
  line("Firmware Version", model.firmware);
  line("MAC Address", mac);
  line("Unit Type", model.unit_type);
  line("Channels", std::to_string(model.channels));
  line("DI", std::to_string(model.digital_inputs));
  line("DO", std::to_string(model.digital_outputs));
  line("Audio", std::to_string(model.audio));
  if (!model.md_cap.empty()) line("MD_CAP", model.md_cap);
  if (!model.encoder_cap.empty()) line("ENCODER_CAP", model.encoder_cap);
  if (!model.sensor_board.empty()) line("Sensor Board", model.sensor_board);
  if (model.advertise_resolution_cap) {
    line("VIDEO_RESOLUTION_CAP", ResolutionCapability(false));
    if (model.dual_stream && settings_.Get("VIDEO_STREAM").value_or("") == "DUAL") {
      line("VIDEO2_RESOLUTION_CAP", ResolutionCapability(true));
    }
  }
  return out;
}

std::string CgiHandler::ConfigDump() const {
  const CameraModel& model = settings_.model();
  UnitAddress address;
  {
    std::lock_guard<std::mutex> lock(address_mutex_);
    address = address_;
  }
  std::string out;
  auto put = [&out](std::string_view name, std::string_view value) { QueryLine(out, name, value); };
  put("SYSTEM_NAME", model.production_id);
  put("PORT_HTTP", std::to_string(address.http_port));
  uint16_t first_port = address.rtsp_ports.empty() ? 0 : address.rtsp_ports.front();
  put("PORT_RTSP", std::to_string(first_port));
  put("V2_PORT_RTSP", std::to_string(first_port));
  if (model.channels > 1) {
    for (size_t i = 0; i < address.rtsp_ports.size(); ++i) {
      std::string key = (i + 1 < 10 ? "0" : "") + std::to_string(i + 1) + "_V2_PORT_RTSP";
      put(key, std::to_string(address.rtsp_ports[i]));
    }
  }
  if (model.h264_config_names) {
    // The H.264 units name their encoder settings per stream in their stored configuration.
    put("MEDIA_TV", model.pal ? "PAL" : "NTSC");
    if (model.day_night) put("MEDIA_DAYNIGHT_MODE", "AUTO");
    for (int channel = 1; channel <= settings_.ChannelCount(); ++channel) {
      std::string prefix = "MEDIA" + std::to_string(channel) + "_";
      auto get = [&](const char* name) { return settings_.Get(name, channel).value_or(""); };
      put(prefix + "ENCODER_TYPE", get("VIDEO_ENCODER"));
      put(prefix + "ENCODER_RESOLUTION", get("VIDEO_RESOLUTION"));
      put(prefix + "FPS_NUM", get("VIDEO_FPS_NUM"));
      put(prefix + "GOP", get("VIDEO_GOP"));
      put(prefix + "MAX_BITRATE", get("VIDEO_MAX_BITRATE"));
      if (model.SupportsCodec("H264")) put(prefix + "H264_QUALITY", get("VIDEO_H264_QUALITY"));
      if (model.SupportsCodec("MPEG4")) put(prefix + "MPEG4_QUALITY", get("VIDEO_MPEG4_QUALITY"));
      if (model.SupportsCodec("MJPEG")) put(prefix + "MJPEG_QUALITY", get("VIDEO_MJPEG_QUALITY"));
    }
  } else {
    put("VIDEO_TV", model.pal ? "PAL" : "NTSC");
    for (const auto& [name, value] : settings_.List(1)) {
      if (name.starts_with("VIDEO_") && SettingsTable::IsChannelSetting(name)) put(name, value);
    }
  }
  for (const auto& [name, value] : settings_.List(1)) {
    if (!SettingsTable::IsChannelSetting(name)) put(name, value);
  }
  return out;
}

}  // namespace strandline::sim
