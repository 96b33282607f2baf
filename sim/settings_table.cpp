#include "sim/settings_table.h"

#include <algorithm>
#include <cstdlib>

#include "sim/cgi_query.h"

namespace strandline::sim {
namespace {

constexpr std::string_view kPrivacyRegion = "PRIVACY_REGION";

// Every bit rate text of the units' tables, with its rate. "UNLIMITED" still
// has to become some number for the encoder.
struct BitrateEntry {
  std::string_view text;
  int kbps;
};
constexpr BitrateEntry kBitrates[] = {
    {"28K", 28},  {"56K", 56},    {"128K", 128},  {"256K", 256},  {"384K", 384},  {"500K", 500},       {"750K", 750},
    {"1M", 1000}, {"1.2M", 1200}, {"1.5M", 1500}, {"2M", 2000},   {"2.5M", 2500}, {"3M", 3000},        {"3.5M", 3500},
    {"4M", 4000}, {"4.5M", 4500}, {"5M", 5000},   {"5.5M", 5500}, {"6M", 6000},   {"UNLIMITED", 8000},
};

std::optional<long> Integer(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool InRange(std::string_view text, long low, long high) {
  auto value = Integer(text);
  return value && *value >= low && *value <= high;
}

bool IsHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); });
}

// "n,enabled,RRGGBB,x1,y1,x2,y2" with the zone number first.
std::optional<int> PrivacyZone(std::string_view value, int zones) {
  auto fields = Split(value, ',');
  if (fields.size() != 7) return std::nullopt;
  auto index = Integer(fields[0]);
  if (!index || *index < 1 || *index > zones) return std::nullopt;
  if (fields[1] != "0" && fields[1] != "1") return std::nullopt;
  if (fields[2].size() != 6 || !IsHex(fields[2])) return std::nullopt;
  long coords[4];
  for (int i = 0; i < 4; ++i) {
    auto v = Integer(fields[3 + i]);
    if (!v || *v > 9999) return std::nullopt;
    coords[i] = *v;
  }
  if (coords[0] > coords[2] || coords[1] > coords[3]) return std::nullopt;
  return static_cast<int>(*index);
}

bool IsQualityName(std::string_view name) {
  return name == "VIDEO_H264_QUALITY" || name == "VIDEO_MPEG4_QUALITY" || name == "NIGHT_H264_QUALITY" ||
         name == "NIGHT_MPEG4_QUALITY";
}

}  // namespace

SettingsTable::SettingsTable(const CameraModel& model) : model_(model) {
  channels_.resize(static_cast<size_t>(ChannelCount()));
  Seed();
}

int SettingsTable::ChannelCount() const { return model_.channels > 1 ? model_.channels : model_.encoders_per_channel; }

bool SettingsTable::IsChannelSetting(std::string_view name) {
  if (name == "VIDEO_STREAM") return false;
  return name.starts_with("VIDEO_") || name.starts_with("NIGHT_") || name.starts_with("V2_STREAMING_");
}

void SettingsTable::Seed() {
  for (size_t i = 0; i < channels_.size(); ++i) {
    Values& v = channels_[i];
    // Further streams of a multi-stream camera start small, as a live view would.
    std::string resolution = model_.default_resolution;
    if (i > 0 && model_.channels == 1) resolution = model_.ResolutionCode(model_.resolutions.front());
    const ModelResolution* r = model_.FindResolution(resolution);
    int fps = r ? std::min(30, r->max_fps) : 30;
    v["VIDEO_ENCODER"] = {model_.codecs.front()};
    v["VIDEO_RESOLUTION"] = {resolution};
    v["VIDEO_FPS"] = {"MODE1"};
    v["VIDEO_FPS_NUM"] = {std::to_string(fps)};
    v["VIDEO_GOP"] = {std::to_string(fps)};
    v["VIDEO_BITRATE"] = {"1M"};
    if (model_.has_max_bitrate) v["VIDEO_MAX_BITRATE"] = {"2M"};
    if (model_.SupportsCodec("H264")) v["VIDEO_H264_QUALITY"] = {"NONE"};
    if (model_.SupportsCodec("MPEG4")) v["VIDEO_MPEG4_QUALITY"] = {"NONE"};
    if (model_.SupportsCodec("MJPEG")) v["VIDEO_MJPEG_QUALITY"] = {"50"};
    if (model_.day_night) {
      v["NIGHT_GOP"] = {std::to_string(fps)};
      v["NIGHT_FPS_NUM"] = {"15"};
      v["NIGHT_MAX_BITRATE"] = {"1M"};
      if (model_.SupportsCodec("H264")) v["NIGHT_H264_QUALITY"] = {"NONE"};
      if (model_.SupportsCodec("MPEG4")) v["NIGHT_MPEG4_QUALITY"] = {"NONE"};
      if (model_.SupportsCodec("MJPEG")) v["NIGHT_MJPEG_QUALITY"] = {"50"};
    }
    v["V2_STREAMING_TYPE"] = {"2"};
    v["V2_STREAMING_METHOD"] = {"3"};
  }
  unit_["VIDEO_STREAM"] = {model_.default_stream_mode};
  if (model_.fisheye) unit_["FISHEYE_INSTALL"] = {"CEILING,0"};
  unit_[model_.b2_key] = {"1"};
  unit_["RTSP_AUTHEN"] = {"1"};
  if (model_.audio > 0) {
    unit_["V2_AUDIO_ENABLED"] = {"0"};
    unit_["AUDIO_IN_FORMAT"] = {"G711U"};
  }
  for (int zone = 1; zone <= model_.privacy_zones; ++zone) {
    unit_[std::string(kPrivacyRegion) + std::to_string(zone)] = {std::to_string(zone) + ",0,000000,1,1,20,20"};
  }
}

const SettingsTable::Values* SettingsTable::Scope(std::string_view name, int channel) const {
  if (channel < 1 || channel > static_cast<int>(channels_.size())) return nullptr;
  return IsChannelSetting(name) ? &channels_[static_cast<size_t>(channel - 1)] : &unit_;
}

SettingsTable::Values* SettingsTable::Scope(std::string_view name, int channel) {
  return const_cast<Values*>(static_cast<const SettingsTable*>(this)->Scope(name, channel));
}

std::optional<std::string> SettingsTable::Get(std::string_view name, int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Values* scope = Scope(name, channel);
  if (!scope) return std::nullopt;
  auto it = scope->find(name);
  if (it == scope->end()) return std::nullopt;
  return it->second.text;
}

bool SettingsTable::Accepts(std::string_view name, std::string_view value) const {
  const int max_fps = model_.MaxFrameRate();
  if (name == "VIDEO_ENCODER") return model_.SupportsCodec(value);
  if (name == "VIDEO_RESOLUTION") return model_.FindResolution(value) != nullptr;
  if (name == "VIDEO_FPS") return value == "MODE1" || value == "MODE2";
  if (name == "VIDEO_FPS_NUM" || name == "NIGHT_FPS_NUM") return InRange(value, 1, max_fps);
  if (name == "VIDEO_GOP" || name == "NIGHT_GOP") return InRange(value, 0, 300);
  if (IsQualityName(name)) return value == "NONE" || InRange(value, 1, 100);
  if (name == "VIDEO_MJPEG_QUALITY" || name == "NIGHT_MJPEG_QUALITY") return InRange(value, 0, 100);
  if (name.ends_with("BITRATE")) return BitrateKbps(value).has_value();
  if (name == "V2_STREAMING_TYPE") return InRange(value, 0, 2);
  if (name == "V2_STREAMING_METHOD") return InRange(value, 0, 4);
  if (name == model_.b2_key || name == "RTSP_AUTHEN") return InRange(value, 0, model_.b2_max);
  if (name == "VIDEO_STREAM") {
    auto modes = model_.StreamModes();
    return std::find(modes.begin(), modes.end(), value) != modes.end();
  }
  if (name == "V2_AUDIO_ENABLED") return value == "0" || value == "1";
  if (name == "AUDIO_IN_FORMAT") return value == "G711U";
  if (name == "FISHEYE_INSTALL") {
    auto parts = Split(value, ',');
    return parts.size() == 2 && (parts[0] == "CEILING" || parts[0] == "WALL") && InRange(parts[1], 0, 9);
  }
  return false;
}

SetResult SettingsTable::Set(std::string_view name, std::string_view value, int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  Values* scope = Scope(name, channel);
  if (!scope) return SetResult::kRefused;
  if (name.starts_with(kPrivacyRegion) && model_.privacy_zones > 0) {
    auto zone = PrivacyZone(value, model_.privacy_zones);
    std::string key = std::string(kPrivacyRegion) + (zone ? std::to_string(*zone) : "");
    // "PRIVACY_REGION=n,..." names its zone in the value; "PRIVACY_REGIONn" must agree with it.
    if (!zone || (name != kPrivacyRegion && name != key)) return SetResult::kRefused;
    unit_[key] = {std::string(value), next_stamp_++};
    return SetResult::kOk;
  }
  auto it = scope->find(name);
  if (it == scope->end()) return SetResult::kUnknown;
  if (!Accepts(name, value)) return SetResult::kRefused;
  it->second = {std::string(value), next_stamp_++};
  return SetResult::kOk;
}

std::vector<std::pair<std::string, std::string>> SettingsTable::List(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::string, std::string>> out;
  if (channel < 1 || channel > static_cast<int>(channels_.size())) return out;
  for (const auto& [name, value] : channels_[static_cast<size_t>(channel - 1)]) out.emplace_back(name, value.text);
  for (const auto& [name, value] : unit_) out.emplace_back(name, value.text);
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<int> SettingsTable::BitrateKbps(std::string_view text) {
  for (const auto& entry : kBitrates) {
    if (entry.text == text) return entry.kbps;
  }
  return std::nullopt;
}

StreamSettings SettingsTable::Stream(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  StreamSettings s;
  if (channel < 1 || channel > static_cast<int>(channels_.size())) channel = 1;
  const Values& v = channels_[static_cast<size_t>(channel - 1)];
  auto text = [&v](std::string_view name) -> const Value* {
    auto it = v.find(name);
    return it == v.end() ? nullptr : &it->second;
  };
  if (const Value* codec = text("VIDEO_ENCODER")) ParseCodecName(codec->text, &s.codec);
  int max_fps = 30;
  if (const Value* res = text("VIDEO_RESOLUTION")) {
    if (const ModelResolution* r = model_.FindResolution(res->text)) {
      s.width = r->width;
      s.height = r->height;
      max_fps = r->max_fps;
    }
  }
  if (const Value* fps = text("VIDEO_FPS_NUM")) s.fps = static_cast<int>(Integer(fps->text).value_or(30));
  s.fps = std::clamp(s.fps, 1, max_fps);
  // The unit takes its bit rate from whichever of the two names was written last.
  const Value* rate = text("VIDEO_MAX_BITRATE");
  const Value* plain = text("VIDEO_BITRATE");
  if (!rate || (plain && plain->stamp > rate->stamp)) rate = plain;
  if (rate) s.kbps = BitrateKbps(rate->text).value_or(1000);
  if (const Value* q = text("VIDEO_MJPEG_QUALITY")) s.quality = std::clamp(static_cast<int>(*Integer(q->text)), 1, 100);
  long gop = 0;
  if (const Value* g = text("VIDEO_GOP")) gop = Integer(g->text).value_or(0);
  // GOP 0 lets the encoder choose: one key frame a second.
  s.gop = gop > 0 ? static_cast<int>(gop) : s.fps;
  // The microphone streams once enabled; the streams of one camera share it.
  auto audio = unit_.find("V2_AUDIO_ENABLED");
  if (audio != unit_.end() && audio->second.text == "1") s.audio_hz = AudioToneHz(model_.channels > 1 ? channel : 1);
  return s;
}

}  // namespace strandline::sim
