#include "camera/stream_configurator.h"

#include <cstdio>

#include "camera/b2_switch.h"
#include "camera/h_utils.h"
#include "camera/stream_values.h"
#include "device/configuration_text.h"
#include "device/host_parameter.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kCamSettleMs = 5000;

}  // namespace

CStreamConfigurator::CStreamConfigurator(IDriver* driver, Web::CHttpSender& http, uint32_t channelIndex,
                                         const STREAM_PARAMS& params, CEvent* stopEvent)
    : driver_(driver), http_(http), channelIndex_(channelIndex), params_(params), stopEvent_(stopEvent) {}

int32_t CStreamConfigurator::Param(uint32_t id, int32_t absent) { return IntParameterOr(driver_, id, absent); }

bool CStreamConfigurator::Get(const std::string& url, std::string& answer) {
  return HUtils::RequestGet(http_, url, answer);
}

uint32_t CStreamConfigurator::ChannelNumber(bool mapStreams) {
  if (Param(kParamDeviceType, 0) == 1) return 0;
  if (driver_->GetChannelCount() > 1) return channelIndex_ + 1;
  const int32_t mode = Param(kParamChannelMode, 0);
  if (mapStreams && (mode == 1 || mode == 3)) {
    if (params_.streamKind == kStreamLive) return 2;
    if (params_.streamKind == kStreamRemote) return 3;
  }
  return 0;
}

CCgiPath CStreamConfigurator::Path(std::string_view family, uint32_t channel) const {
  return CCgiPath(family, *driver_->GetDeviceInfo()).Channel(channel);
}

bool CStreamConfigurator::SendSystemCommand(const std::string& params) {
  std::string answer;
  return Get(Path(cgi::kSystem, ChannelNumber(false)).Items(params), answer) && !Contains(answer, "ERROR");
}

std::string CStreamConfigurator::ResolutionCode() {
  const bool ntsc = driver_->GetVideoStandard(params_.width, params_.height) != 0;
  return HUtils::FormatString("%s%ux%u", ntsc ? "N" : "P", params_.width, params_.height);
}

uint32_t CStreamConfigurator::FrameRateNumber(bool useTables) {
  const uint32_t wanted = FrameRateFromInterval(params_.frameRate);
  uint32_t snapped = 0;
  if (useTables && SnapFrameRate(wanted, static_cast<uint32_t>(Param(kParamDeviceType, 0)), params_.width,
                                 driver_->GetDeviceInfo()->model, snapped)) {
    return snapped;
  }
  return CapabilityFrameRate(driver_->GetStreamKindSettings(), params_.streamKind, params_.width, params_.height,
                             wanted);
}

uint32_t CStreamConfigurator::FrameRatio() {
  const uint32_t wanted = FrameRateNumber(false);
  std::string answer;
  if (!Get(Path(cgi::kEncoder, ChannelNumber(true)).Item("VIDEO_FPS_RATIO", 100u), answer) || answer.empty()) {
    return 100;
  }
  const std::string value = HUtils::GetValue(answer, "VIDEO_FPS_RATIO", "=", "\r\n");
  if (value.empty()) return 100;
  unsigned a = 0;
  unsigned b = 0;
  uint32_t ratio;
  if (std::sscanf(value.c_str(), "'%u,%u'", &a, &b) == 2 && a != 0 && b != 0) {
    ratio = wanted >= b ? 100 : wanted * 100 / b + 1;
  } else {
    ratio = wanted * 100 / (driver_->GetVideoStandard(params_.width, params_.height) != 0 ? 30 : 25) + 1;
  }
  // A share above the whole makes no sense to the camera.
  return ratio > 100 ? 100 : ratio;
}

std::string CStreamConfigurator::Bitrate() {
  return BitrateText(static_cast<uint32_t>(Param(kParamCameraGroup, 1)), params_.bitrate);
}

std::string CStreamConfigurator::FrameRateParams(const std::string& answer, bool withNight, bool useTables) {
  std::string items;
  if (Param(kParamFpsInPercents, 0) != 1) {
    const uint32_t rate = FrameRateNumber(useTables);
    items += HUtils::ChangeParamU(answer, "VIDEO_FPS_NUM", rate);
    if (withNight) items += HUtils::ChangeParamU(answer, "NIGHT_FPS_NUM", rate);
  } else {
    const uint32_t ratio = FrameRatio();
    items += HUtils::ChangeParamU(answer, "VIDEO_FPS_RATIO", ratio);
    if (withNight) items += HUtils::ChangeParamU(answer, "NIGHT_FPS_RATIO", ratio);
  }
  return items;
}

bool CStreamConfigurator::ConfigureStreaming() {
  if (Param(kParamCameraGroup, 1) == 2) return ConfigureB2();
  std::string answer;
  if (!Get(Path(cgi::kSystem, ChannelNumber(true)).Item("V2_STREAMING_TYPE").Item("V2_STREAMING_METHOD"), answer)) {
    return false;
  }
  std::string change;
  const std::string type = HUtils::GetValue(answer, "V2_STREAMING_TYPE", "=", "\r\n");
  if (!type.empty() && !Contains(type, "2")) change = "V2_STREAMING_TYPE=2";
  const std::string method = streamingMode_ != 0 ? "4" : "3";
  const std::string current = HUtils::GetValue(answer, "V2_STREAMING_METHOD", "=", "\r\n");
  if (!current.empty() && !Contains(current, method))
    change += (change.empty() ? "" : "&") + ("V2_STREAMING_METHOD=" + method);
  if (change.empty()) return ConfigureB2();
  // The camera changes its transport: do not start the stream against it now.
  if (SendSystemCommand(change) && driver_->GetChannelCount() == 1) SaveAndReboot();
  return false;
}

bool CStreamConfigurator::ConfigureB2() {
  const std::string name = driver_->GetStringParameter(kParamDisableB2String);
  const std::string value = driver_->GetStringParameter(kParamDisableB2AndAuth);
  if (!name.empty() && !value.empty()) {
    std::string answer;
    if (!Get(Path(cgi::kSystem, ChannelNumber(false)).Items(B2SwitchQuery(name)), answer)) return false;
    const std::string authen = HUtils::GetValue(answer, "RTSP_AUTHEN", "=", "\r\n");
    const std::string current = HUtils::GetValue(answer, name, "=", "\r\n");
    if (!authen.empty() && !current.empty() && (!Contains(authen, value) || !Contains(current, value))) {
      HUtils::RequestGet(http_, Path(cgi::kSystem, ChannelNumber(false)).Items(B2SwitchSetting(name, value)), true);
    }
    return true;
  }
  const B2Probe probe = ProbeB2Switch([this](const std::string& items) { return SendSystemCommand(items); }, false);
  return SendSystemCommand(B2SwitchSetting(probe.name, probe.offAccepted ? "1" : "0"));
}

bool CStreamConfigurator::ConfigureVideoStream() {
  const int32_t mounting = Param(kParamMountingType, 0);
  std::string answer;
  CCgiPath query = Path(cgi::kEncoder).Item("VIDEO_STREAM");
  if (mounting != 0) query.Item("FISHEYE_INSTALL");
  if (!Get(query, answer) || answer.empty()) return false;
  std::string items;
  const std::string mode = StreamModeToText(static_cast<uint32_t>(Param(kParamChannelMode, 0)));
  if (!Contains(answer, mode)) items += "&VIDEO_STREAM=" + mode;
  if (mounting != 0) {
    const std::string mountText = MountingTypeToText(static_cast<uint32_t>(mounting));
    if (!Contains(answer, mountText)) {
      const auto install = HUtils::GetValueList(answer, "FISHEYE_INSTALL", "=", "\r\n", ",");
      if (install.size() == 2) {
        items += std::string("&FISHEYE_INSTALL=") + mountText + "," + HUtils::RemoveChars(install[1], "'");
      }
    }
  }
  return SendChange(Path(cgi::kEncoder), items);
}

bool CStreamConfigurator::SendChange(const CCgiPath& stem, const std::string& items) {
  if (items.empty()) return true;
  std::string answer;
  return Get(CCgiPath(stem).Items(items), answer);
}

bool CStreamConfigurator::ConfigureStream(Codec codec) {
  if (streamingMode_ == 2) return true;
  const uint32_t group = static_cast<uint32_t>(Param(kParamCameraGroup, 1));
  const bool laterQuadChannel = Param(kParamDeviceType, 0) == 1 && channelIndex_ > 0;
  switch (codec) {
    case kCodecH264:
      return RunSequence(codec, group);
    case kCodecMjpeg:
      if (group == 1 && laterQuadChannel) return true;
      if (group == 1 || group == 2) return RunSequence(codec, group);
      return false;
    case kCodecMpeg4:
      if (group == 0) return SequenceM0();
      if (group == 1 && laterQuadChannel) return true;
      if (group == 1 || group == 2) return RunSequence(codec, group);
      return false;
  }
  return false;
}

bool CStreamConfigurator::RunSequence(Codec codec, uint32_t group) {
  // H, J2 and M2 also set the stream mode; J1 and M1 (video servers) do not.
  const bool modern = codec == kCodecH264 || group == 2;
  if (!ConfigureStreaming()) return false;
  if (modern && !ConfigureVideoStream()) return false;

  const CCgiPath stem = Path(cgi::kEncoder, ChannelNumber(true));
  const char* codecText = codec == kCodecH264 ? "H264" : (codec == kCodecMjpeg ? "MJPEG" : "MPEG4");
  std::string answer;
  Get(CCgiPath(stem).Item("VIDEO_ENCODER").Item("VIDEO_RESOLUTION"), answer);
  const std::string first = HUtils::ChangeParam(answer, "VIDEO_ENCODER", codecText) +
                            HUtils::ChangeParam(answer, "VIDEO_RESOLUTION", ResolutionCode());
  if (!SendChange(stem, first)) return false;

  const bool night = Param(kParamDayNight, 0) == 1;
  std::string query;
  std::string items;
  answer.clear();
  if (modern && codec != kCodecMjpeg) {
    const std::string quality = codec == kCodecH264 ? "H264" : "MPEG4";
    query = "&VIDEO_GOP&VIDEO_FPS_NUM&VIDEO_FPS_RATIO&VIDEO_" + quality + "_QUALITY&VIDEO_MAX_BITRATE";
    if (night) query += "&NIGHT_GOP&NIGHT_FPS_NUM&NIGHT_FPS_RATIO&NIGHT_" + quality + "_QUALITY&NIGHT_MAX_BITRATE";
    Get(CCgiPath(stem).Items(query), answer);
    const std::string bitrate = Bitrate();
    items = HUtils::ChangeParamU(answer, "VIDEO_GOP", 0) + HUtils::ChangeParamU(answer, "NIGHT_GOP", 0) +
            FrameRateParams(answer, night, codec == kCodecMpeg4) +
            HUtils::ChangeParam(answer, "VIDEO_" + quality + "_QUALITY", "NONE") +
            HUtils::ChangeParam(answer, "VIDEO_MAX_BITRATE", bitrate) +
            HUtils::ChangeParam(answer, "NIGHT_" + quality + "_QUALITY", "NONE") +
            HUtils::ChangeParam(answer, "NIGHT_MAX_BITRATE", bitrate);
  } else if (codec == kCodecMjpeg && group == 2) {
    query = "&VIDEO_FPS&VIDEO_FPS_NUM&VIDEO_FPS_RATIO&VIDEO_MJPEG_QUALITY";
    if (night) query += "&NIGHT_FPS_NUM&NIGHT_FPS_RATIO&NIGHT_MJPEG_QUALITY";
    Get(CCgiPath(stem).Items(query), answer);
    items = HUtils::ChangeParam(answer, "VIDEO_FPS", "MODE1") + FrameRateParams(answer, night, false) +
            HUtils::ChangeParamU(answer, "VIDEO_MJPEG_QUALITY", params_.bitrate) +
            HUtils::ChangeParamU(answer, "NIGHT_MJPEG_QUALITY", params_.bitrate);
  } else if (codec == kCodecMjpeg) {
    Get(CCgiPath(stem).Items("VIDEO_FPS&VIDEO_MJPEG_QUALITY&VIDEO_FPS_NUM"), answer);
    items = HUtils::ChangeParam(answer, "VIDEO_FPS", "MODE1") +
            HUtils::ChangeParamU(answer, "VIDEO_MJPEG_QUALITY", params_.bitrate) +
            FrameRateParams(answer, false, false);
  } else {
    Get(CCgiPath(stem).Items("VIDEO_FPS&VIDEO_GOP&VIDEO_MPEG4_QUALITY&VIDEO_MAX_BITRATE&VIDEO_FPS_NUM"), answer);
    items = HUtils::ChangeParam(answer, "VIDEO_FPS", "MODE1") + HUtils::ChangeParamU(answer, "VIDEO_GOP", 0) +
            HUtils::ChangeParam(answer, "VIDEO_MPEG4_QUALITY", "NONE") +
            HUtils::ChangeParam(answer, "VIDEO_MAX_BITRATE", Bitrate()) + FrameRateParams(answer, false, false);
  }
  return SendChange(stem, items);
}

bool CStreamConfigurator::SequenceM0() {
  if (!ConfigureStreaming()) return false;
  const CCgiPath url = Path(cgi::kMpeg4, ChannelNumber(true))
                           .Item("VIDEO_RESOLUTION", ResolutionCode())
                           .Item("VIDEO_FPS", "MODE1")
                           .Item("VIDEO_FPS_NUM", FrameRateFromInterval(params_.frameRate))
                           .Item("VIDEO_BITRATE", Bitrate());
  std::string answer;
  const bool ok = Get(url, answer);
  // The CAM series needs a moment to apply the change; a stopping channel
  // does not wait for it.
  if (ok && stopEvent_ != nullptr) stopEvent_->Wait(kCamSettleMs);
  return ok;
}

bool CStreamConfigurator::ConfigureSdkStream() {
  std::string answer;
  if (!Get(Path(cgi::kMpeg4).Item("VIDEO_RESOLUTION").Item("VIDEO_FPS_NUM").Item("VIDEO_BITRATE"), answer) ||
      answer.empty()) {
    return false;
  }
  const uint32_t rate = FrameRateFromInterval(params_.frameRate);
  const std::string bitrate = SdkBitrateText(params_.bitrate);
  const std::string code = ResolutionCode();
  if (Contains(answer, code) && Contains(answer, HUtils::FormatString("VIDEO_FPS_NUM='%u'", rate)) &&
      Contains(answer, "VIDEO_BITRATE='" + bitrate + "'")) {
    return true;
  }
  const CCgiPath change = Path(cgi::kMpeg4)
                              .Item("VIDEO_FPS", "MODE1")
                              .Item("VIDEO_FPS_NUM", rate)
                              .Item("VIDEO_RESOLUTION", code)
                              .Item("VIDEO_BITRATE", bitrate);
  if (!Get(change, answer)) return false;
  driver_->DebugMessage(kLogInfo, "MPEG-4 encoder set to %s, %u fps, %s; the camera restarts, device %s", code.c_str(),
                        rate, bitrate.c_str(), driver_->GetDeviceName().c_str());
  HUtils::RequestGet(http_, Path(cgi::kSystem).Item("SAVE_REBOOT"), false);
  return true;
}

void CStreamConfigurator::SaveAndReboot() {
  if (Param(kParamCameraGroup, 1) == 2) return;
  driver_->DebugMessage(kLogInfo, "Save and reboot device %s", driver_->GetDeviceName().c_str());
  HUtils::RequestGet(http_, Path(cgi::kSystem).Item("SAVE_REBOOT"), false);
}

}  // namespace orbisan
