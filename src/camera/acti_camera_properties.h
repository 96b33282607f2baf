#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "camera/base_camera_properties.h"
#include "camera/cgi_path.h"
#include "camera/http_sender.h"
#include "device/stream_kind_settings.h"

namespace orbisan {

// Identification of a camera or video server of this family over its CGI
// interface, and the model rules that its Production ID selects.
class CActiCameraProperties : public CBaseCameraProperties {
 public:
  CActiCameraProperties(const DEVICE_INFO& device, uint32_t flag);

  // Ends a request under way, so that a stopped query returns at once.
  void Stop() override { http_.Cancel(); }
  void GetProperties(ipcapture::ICapabilityStore& store) override;
  bool Query(uint32_t& status) override;

  // The request "<params>" of the family (with CHANNEL=1 on a device of
  // several channels); true when it succeeded and the answer holds no "ERROR".
  bool SendCgiCommand(std::string_view family, const std::string& params);
  // The "Stream capabilities" text (property 15).
  std::string StreamCapabilityText() const;

  uint32_t CameraGroup() const { return cameraGroup_; }
  uint32_t DeviceType() const { return deviceType_; }
  uint32_t ChannelMode() const { return channelMode_; }
  uint32_t MountingType() const { return mountingType_; }
  uint32_t PtzProtocol() const { return ptzProtocol_; }
  const std::string& RtspPorts() const { return rtspPorts_; }
  const std::string& Firmware() const { return firmware_; }
  const std::string& Mac() const { return mac_; }
  const std::string& B2Key() const { return b2Key_; }
  uint32_t B2DisableAccepted() const { return b2DisableAccepted_; }
  bool FpsInPercents() const { return fpsInPercents_ != 0; }
  bool DayNight() const { return dayNight_ != 0; }
  bool D1Allowed() const { return d1Allowed_ != 0; }
  const std::map<uint32_t, FrameRateTable>& DetailedCaps() const { return detailedCaps_; }
  // Where the hemispheric stream mode and mounting are configured.
  void SetConfigurationPath(const std::string& path) { configPath_ = path; }

 private:
  CCgiPath Path(std::string_view family) const { return CCgiPath(family, device_); }
  bool Get(const std::string& url, std::string& answer);

  // Identification steps.
  bool QuerySystemInfo();
  void ApplyModelRules(const std::string& productId);
  void AddCodec(uint32_t codec);
  void DetectStreamMode(const std::string& mdCap);
  void QueryFrameRateCaps(const std::string& firstList, const std::string& secondList);
  void RecordFrameRates(uint32_t stream, const std::string& item, const std::string& piece);
  bool QueryConfiguration();
  bool FillDefaults();
  void QueryB2Switch();
  void QueryPtzVendor();
  void QueryDiskState();

  Web::CHttpSender http_;
  uint32_t megapixelFrameRate_ = 8;
  uint8_t d1Allowed_ = 1;
  uint8_t fpsInPercents_ = 0;
  uint8_t dayNight_ = 0;
  uint8_t staticResolutions_ = 0;
  uint32_t cameraGroup_ = 1;
  std::string rtspPorts_;
  uint32_t ptzProtocol_ = 0;
  std::string firmware_;
  std::string mac_;
  uint32_t b2DisableAccepted_ = 1;
  std::string b2Key_ = "RTP_B2";
  uint32_t deviceType_ = 0;
  uint32_t channelMode_ = 0;
  uint32_t mountingType_ = 0;
  std::map<uint32_t, FrameRateTable> detailedCaps_;
  std::string configPath_;
};

}  // namespace orbisan
