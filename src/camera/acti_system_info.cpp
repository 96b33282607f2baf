// Identification, first step: the SYSTEM_INFO answer, the model rules of the
// Production ID, the stream mode and the frame rates per resolution.
#include <algorithm>

#include "camera/acti_camera_properties.h"
#include "camera/h_utils.h"
#include "device/configuration.h"
#include "device/configuration_text.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

bool HasAny(const std::string& text, std::initializer_list<const char*> parts) {
  return std::any_of(parts.begin(), parts.end(), [&](const char* p) { return Contains(text, p); });
}

// A decimal number made of digits only, within u32.
bool ParseCount(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  out = static_cast<uint32_t>(std::stoul(text));
  return true;
}

}  // namespace

bool CActiCameraProperties::QuerySystemInfo() {
  std::string answer;
  if (!Get(Path(cgi::kSystem).Item("SYSTEM_INFO"), answer) || answer.empty()) {
    return false;
  }
  auto value = [&](const char* key) { return HUtils::GetValue(answer, key, " = ", "\r\n"); };
  const std::string productId = value("Production ID");
  if (productId.empty()) return false;
  ApplyModelRules(productId);
  model_ = productId;

  firmware_ = value("Firmware Version");
  mac_ = value("MAC Address");
  uint32_t count = 0;
  if (ParseCount(Trim(value("DI"), HUtils::kAnswerBlanks), count) && count != 0) digitalInputs_ = count;
  if (ParseCount(Trim(value("DO"), HUtils::kAnswerBlanks), count) && count != 0) digitalOutputs_ = count;
  if (Contains(value("Unit Type"), "Quad Server")) deviceType_ = 1;
  if (ParseCount(Trim(value("Audio"), HUtils::kAnswerBlanks), count)) {
    if (count > 0) audioIn_ = {1, 0};
    if (count > 1) audioOut_ = {1, 0};
  }
  const std::string mdCap = value("MD_CAP");
  if (!mdCap.empty()) {
    motionSupported_ = 1;
    DetectStreamMode(ToLower(mdCap));
  }
  const std::string encoders = value("ENCODER_CAP");
  if (Contains(encoders, "H264")) {
    cameraGroup_ = 2;
    AddCodec(kCodecH264);
  }
  if (Contains(encoders, "MPEG4")) AddCodec(kCodecMpeg4);
  if (Contains(encoders, "MJPEG")) AddCodec(kCodecMjpeg);
  const std::string sensor = value("Sensor Board");
  if (Contains(sensor, "IT1")) {
    deviceType_ = 2;
  } else if (Contains(sensor, "MT9P031")) {
    deviceType_ = 3;
  }
  if (deviceType_ == 1 && ParseCount(Trim(value("Channels"), HUtils::kAnswerBlanks), count) && count > 0)
    channels_ = count;
  QueryFrameRateCaps(value("VIDEO_RESOLUTION_CAP"), value("VIDEO2_RESOLUTION_CAP"));
  return true;
}

void CActiCameraProperties::ApplyModelRules(const std::string& id) {
  if (Contains(id, "AMU")) {
    brand_ = "VIDO";
    ptzSupported_ = 1;
  } else if (Contains(id, "TMU")) {
    brand_ = "Messoa";
    ptzSupported_ = 1;
  } else if (Contains(id, "CAM")) {
    AddCodec(kCodecMpeg4);
    cameraGroup_ = 0;
    staticResolutions_ = 1;
    if (Contains(id, "CAM6")) {
      digitalInputs_ = 2;
      digitalOutputs_ = 1;
      ptzSupported_ = 1;
    } else if (Contains(id, "CAM5")) {
      digitalInputs_ = 1;
      digitalOutputs_ = 1;
    }
  } else if (Contains(id, "ACM")) {
    if (HasAny(id, {"ACM5", "ACM7", "ACM8"})) {
      digitalInputs_ = 1;
      digitalOutputs_ = 1;
    }
    if (Contains(id, "ACM8")) ptzSupported_ = 1;
    if (HasAny(id, {"ACM10", "ACM14", "ACM30", "ACM36", "ACM40", "ACM50"})) d1Allowed_ = 0;
  } else if (Contains(id, "ACD")) {
    AddCodec(kCodecMjpeg);
    AddCodec(kCodecMpeg4);
    cameraGroup_ = 1;
    ptzSupported_ = 1;
  } else if (HasAny(id, {"TCM50", "TCM10", "TCM41"})) {
    d1Allowed_ = 0;
  } else if (Contains(id, "SED")) {
    ptzSupported_ = 1;
    AddCodec(kCodecMpeg4);
    cameraGroup_ = 3;
    staticResolutions_ = 1;
    digitalInputs_ = 2;
    digitalOutputs_ = 2;
  }
}

void CActiCameraProperties::AddCodec(uint32_t codec) {
  // A dual-stream camera has no MPEG-4, a motion-preset one no MJPEG.
  if (codec == kCodecMpeg4 && channelMode_ == 1) return;
  if (codec == kCodecMjpeg && channelMode_ == 3) return;
  streamCaps_[0].codecs.insert(codec);
  if (streamCount_ > 1) streamCaps_[1].codecs.insert(codec);
  if (streamCount_ > 2) streamCaps_[2].codecs.insert(codec);
}

void CActiCameraProperties::DetectStreamMode(const std::string& mdCap) {
  const CCgiPath modeQuery = Path(cgi::kEncoder).Item("VIDEO_STREAM");
  auto setMode = [&](const std::string& mode) { return Path(cgi::kEncoder).Item("VIDEO_STREAM", mode); };
  auto readMode = [](const std::string& answer) { return HUtils::GetValue(answer, "VIDEO_STREAM", "='", " '\r\n"); };
  std::string answer;
  if (!Contains(mdCap, "hemispheric")) {
    if (Get(modeQuery, answer) && !answer.empty()) {
      const std::string value = readMode(answer);
      channelMode_ = TextToStreamMode(value);
      // An unknown mode is put right so that the camera and the driver agree.
      const std::string known = StreamModeToText(channelMode_);
      if (!Contains(value, known.c_str())) HUtils::RequestGet(http_, setMode(known), false);
    }
  } else {
    const ViewSettings wanted = GetViewSettings(configPath_, device_);
    const std::string modeText = StreamModeToText(wanted.streamMode);
    if (Get(modeQuery, answer) && !Contains(answer, "ERROR")) {
      if (Contains(answer, modeText.c_str())) {
        channelMode_ = wanted.streamMode;
      } else {
        std::string changed;
        Get(setMode(modeText), changed);
        if (!changed.empty())
          channelMode_ = Contains(changed, modeText.c_str()) ? wanted.streamMode : TextToStreamMode(readMode(changed));
      }
    }
    const std::string mountText = MountingTypeToText(wanted.mountingType);
    if (Get(Path(cgi::kEncoder).Item("FISHEYE_INSTALL"), answer) && !Contains(answer, "ERROR")) {
      if (Contains(answer, mountText.c_str())) {
        mountingType_ = wanted.mountingType;
      } else {
        const auto items = HUtils::GetValueList(answer, "FISHEYE_INSTALL", "=", "\r\n", ",");
        if (items.size() == 2) {
          std::string changed;
          const std::string install = mountText + "," + HUtils::RemoveChars(items[1], "'");
          Get(Path(cgi::kEncoder).Item("FISHEYE_INSTALL", install), changed);
          if (!changed.empty() && !Contains(changed, "ERROR")) mountingType_ = wanted.mountingType;
        }
      }
    }
  }
  if (channelMode_ == 1) streamCount_ = 2;
  if (channelMode_ == 3) streamCount_ = mountingType_ == 1 ? 3 : 2;
}

void CActiCameraProperties::QueryFrameRateCaps(const std::string& firstList, const std::string& secondList) {
  const std::vector<std::string> first = Split(firstList, ",");
  const std::vector<std::string> second = Split(secondList, ",");
  const std::string codec = streamCaps_[0].codecs.count(kCodecH264) ? "H264" : "MPEG4";
  std::string answer;
  if (second.empty()) {
    for (const std::string& item : first) {
      if (Stopping()) return;
      const std::string query = StreamModeToText(channelMode_) + "," + codec + "," + item;
      if (!Get(Path(cgi::kEncoder).Item("FPS_CAP_QUERY_ALL", query), answer)) continue;
      const auto pieces = Split(HUtils::GetValue(answer, "FPS_CAP_QUERY_ALL", "='", "'\r\n"), "-");
      if (pieces.empty()) continue;
      RecordFrameRates(0, item, pieces[0]);
      if (channelMode_ == 3) {
        const std::string other = Contains(item, "1280x720") ? "1280x352" : item;
        if (streamCount_ > 1) RecordFrameRates(1, other, pieces[0]);
        if (streamCount_ > 2) RecordFrameRates(2, other, pieces[0]);
      }
    }
    return;
  }
  if (first.empty()) return;
  auto query = [&](const std::string& a, const std::string& b, size_t index) -> std::string {
    const std::string pair = "DUAL," + codec + "," + a + "," + codec + "," + b;
    if (!Get(Path(cgi::kEncoder).Item("FPS_CAP_QUERY_ALL", pair), answer)) return {};
    const auto pieces =
        Split(HUtils::RemoveChars(HUtils::GetValue(answer, "FPS_CAP_QUERY_ALL", "=", "\r\n"), "'"), ";", false);
    return index < pieces.size() ? pieces[index] : std::string();
  };
  for (const std::string& item : first) {
    if (Stopping()) return;
    RecordFrameRates(0, item, query(item, second[0], 0));
  }
  for (const std::string& item : second) {
    if (Stopping()) return;
    RecordFrameRates(1, item, query(first[0], item, 1));
  }
}

void CActiCameraProperties::RecordFrameRates(uint32_t stream, const std::string& item, const std::string& piece) {
  const auto size = Split(HUtils::RemoveChars(item, "NP/'"), "x");
  uint32_t width = 0;
  uint32_t height = 0;
  if (size.size() != 2 || !ParseCount(size[0], width) || !ParseCount(size[1], height) || width == 0 || height == 0 ||
      width > 0xFFFF || height > 0xFFFF) {
    return;
  }
  std::set<uint32_t> rates;
  for (const std::string& text : Split(piece, ",")) {
    uint32_t rate = 0;
    if (ParseCount(Trim(text, HUtils::kAnswerBlanks), rate) && rate != 0) rates.insert(rate);
  }
  if (rates.empty()) return;
  detailedCaps_[stream][{width, height}] = rates;
  streamCaps_[stream].AddResolution(width, height, *rates.rbegin());
}

}  // namespace orbisan
