// Identification, later steps: the configuration dump, defaults and
// resolution probing, and the optional B2, PTZ and storage queries.
#include <algorithm>

#include "camera/acti_camera_properties.h"
#include "camera/b2_switch.h"
#include "camera/h_utils.h"
#include "camera/resolution_codes.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

bool ListHas(const std::string& list, const std::string& value) {
  for (const std::string& item : Split(list, ",")) {
    if (item == value) return true;
  }
  return false;
}

}  // namespace

bool CActiCameraProperties::QueryConfiguration() {
  std::string answer;
  if (!Get(Path(cgi::kUpdate).Item("CONFIG_GET"), answer) || answer.empty()) {
    return false;
  }
  auto value = [&](const std::string& key) { return HUtils::GetValue(answer, key, "=", "\r\n"); };
  auto present = [&](const std::string& key) { return !value(key).empty(); };

  // Each later key that is present decides the video standard anew.
  bool pal = ntsc_ == 0;
  const std::string resolution = value("VIDEO_RESOLUTION");
  if (!resolution.empty()) {
    pal = Contains(resolution, "P");
  } else if (present("VIDEO_TV")) {
    pal = Contains(value("VIDEO_TV"), "PAL");
  }
  if (present("MEDIA_TV")) pal = Contains(value("MEDIA_TV"), "PAL");
  if (present("MEDIA1_ENCODER_RESOLUTION")) pal = Contains(value("MEDIA1_ENCODER_RESOLUTION"), "P");
  if (present("RESOLUTION_1")) pal = Contains(value("RESOLUTION_1"), "P");
  ntsc_ = pal ? 0 : 1;

  if (present("MEDIA_DAYNIGHT_MODE")) dayNight_ = 1;
  if (present("VIDEO_MJPEG_QUALITY")) AddCodec(kCodecMjpeg);
  if (present("VIDEO_MPEG4_QUALITY")) AddCodec(kCodecMpeg4);
  if (present("MEDIA1_FPS_RATIO") && !present("MEDIA1_FPS_NUM")) fpsInPercents_ = 1;
  if (present("MEDIA1_H264_QUALITY")) {
    cameraGroup_ = 2;
    AddCodec(kCodecH264);
  }
  if (present("MEDIA1_MPEG4_QUALITY")) AddCodec(kCodecMpeg4);
  if (present("MEDIA1_MJPEG_QUALITY")) AddCodec(kCodecMjpeg);

  auto addPort = [&](const std::string& key) {
    const std::string port = HUtils::RemoveChars(value(key), "'");
    if (port.empty()) return false;
    if (!ListHas(rtspPorts_, port)) rtspPorts_ += port + ",";
    return true;
  };
  addPort("PORT_RTSP");
  addPort("V2_PORT_RTSP");
  uint32_t numbered = 0;
  while (numbered < 999 && addPort(HUtils::FormatString("%.2u_V2_PORT_RTSP", numbered + 1))) ++numbered;
  channels_ = std::max(channels_, numbered);

  if (Contains(model_, "ACD") && deviceType_ != 1) {
    digitalInputs_ = 2 * channels_;
    digitalOutputs_ = 2 * channels_;
  }

  if (cameraGroup_ == 1 && !ptzSupported_) {
    privacyMaskCount_ = 1;
    privacySupported_ = 1;
  } else if (cameraGroup_ == 2 && !((Contains(model_, "TCM") || Contains(model_, "KCM")) && streamCount_ > 1)) {
    uint32_t count = 0;
    while (count < 5 && present(HUtils::FormatString("PRIVACY_REGION%u", count + 1))) ++count;
    privacyMaskCount_ = static_cast<uint8_t>(count);
    if (count > 0) privacySupported_ = 1;
  }
  return true;
}

bool CActiCameraProperties::FillDefaults() {
  StreamCapabilities& main = streamCaps_[0];
  const bool ntsc = ntsc_ != 0;
  if (main.frameRates.empty()) {
    if (fpsInPercents_) {
      for (uint32_t rate = 1; rate <= (ntsc ? 30u : 25u); ++rate) main.frameRates.insert(rate);
    } else if (ntsc) {
      main.frameRates = {30, 15, 10, 7, 6, 5, 4, 3, 2, 1};
    } else {
      main.frameRates = {25, 12, 8, 6, 5, 4, 3, 2, 1};
      if (Contains(model_, "CAM6510")) main.frameRates.erase(1);
    }
  }
  if (main.resolutions.empty()) {
    uint32_t rate = deviceType_ == 1 ? (ntsc ? 15 : 12) : (ntsc ? 30 : 25);
    if (staticResolutions_) {
      if (ntsc) {
        main.AddResolution(160, 112, rate);
        main.AddResolution(352, 240, rate);
        if (d1Allowed_) main.AddResolution(720, 480, rate);
      } else {
        main.AddResolution(176, 144, rate);
        main.AddResolution(352, 288, rate);
        if (d1Allowed_) main.AddResolution(720, 576, rate);
      }
    } else {
      // Each code is tried by setting it; the camera keeps the last one.
      for (const auto& [size, code] : ntsc ? NtscResolutionCodes() : PalResolutionCodes()) {
        std::string answer;
        if (!Get(Path(cgi::kMpeg4).Item("VIDEO_RESOLUTION", code), answer)) {
          return false;
        }
        if (!Contains(answer, "OK: VIDEO_RESOLUTION=")) continue;
        uint32_t sizeRate = main.frameRates.empty() ? rate : *main.frameRates.rbegin();
        if (size.first == 1280) {
          sizeRate = megapixelFrameRate_;
          main.frameRates.insert(megapixelFrameRate_);
        }
        main.AddResolution(size.first, size.second, sizeRate);
      }
    }
  }
  return !main.resolutions.empty() && !main.frameRates.empty();
}

void CActiCameraProperties::QueryB2Switch() {
  const B2Probe probe =
      ProbeB2Switch([this](const std::string& items) { return SendCgiCommand(cgi::kSystem, items); }, true);
  if (probe.name == nullptr) return;
  b2Key_ = probe.name;
  b2DisableAccepted_ = probe.offAccepted ? 1 : 0;
}

void CActiCameraProperties::QueryPtzVendor() {
  std::string answer;
  if (!Get(Path(cgi::kEncoder).Item("PTZ_VENDOR"), answer)) return;
  const std::string vendor = HUtils::GetValue(answer, "PTZ_VENDOR", "=", "\r\n");
  if (vendor.empty()) return;
  ptzSupported_ = 1;
  if (Contains(vendor, "ACTI") || Contains(model_, "KCM")) ptzProtocol_ = 1;
}

void CActiCameraProperties::QueryDiskState() {
  std::string answer;
  if (Get(Path(cgi::kSystem).Item("DISK_STATE"), answer) && Contains(answer, "MOUNT")) edgeStorage_ = 1;
}

}  // namespace orbisan
