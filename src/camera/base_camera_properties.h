#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "camera/stream_capabilities.h"
#include "device/device_info.h"
#include "runtime/event.h"
#include "strandline/capability_store.h"

namespace orbisan {

// What identification found out about a device, independent of the vendor's
// CGI dialect. The capability query owns one per query.
class CBaseCameraProperties {
 public:
  struct AudioCapability {
    uint32_t count = 0;
    uint8_t stereo = 0;
  };

  CBaseCameraProperties(const DEVICE_INFO& device, uint32_t flag);

  // Called right after the stop event is set; nothing else to do here.
  virtual void Stop() {}
  // Frame rates of the main stream in the host's encoding.
  virtual bool GetFrameRates(ipcapture::IFrameRateSink& sink);
  virtual void GetProperties(ipcapture::ICapabilityStore& store) = 0;
  virtual ~CBaseCameraProperties() = default;
  // False with status 3 when the device could not be identified.
  virtual bool Query(uint32_t& status) = 0;
  virtual std::string GetErrorDetails() { return {}; }

  // 0 -> 1000; a rate above 30 on a host of 6.4 or later -> rate | 0x70000000;
  // else the frame interval in ms, rounded.
  static uint32_t EncodeFrameRate(uint32_t rate, bool hostAtLeast64);

  CManualEvent& StopEvent() { return stopEvent_; }
  const std::string& Brand() const { return brand_; }
  const std::string& Model() const { return model_; }
  const AudioCapability& AudioIn() const { return audioIn_; }
  const AudioCapability& AudioOut() const { return audioOut_; }
  bool PrivacySupported() const { return privacySupported_ != 0; }
  bool HostAtLeast64() const { return hostAtLeast64_ != 0; }
  bool HostAtLeast61() const { return hostAtLeast61_ != 0; }
  bool PtzSupported() const { return ptzSupported_ != 0; }
  bool MotionSupported() const { return motionSupported_ != 0; }
  bool EdgeStorage() const { return edgeStorage_ != 0; }
  const DEVICE_INFO& Device() const { return device_; }
  uint32_t InitialFlag() const { return initialFlag_; }
  uint32_t Ntsc() const { return ntsc_; }
  uint32_t DigitalInputs() const { return digitalInputs_; }
  uint32_t DigitalOutputs() const { return digitalOutputs_; }
  uint32_t Channels() const { return channels_; }
  uint32_t StreamCount() const { return streamCount_; }
  const StreamCapabilities& Stream(uint32_t index) const { return streamCaps_[index < 3 ? index : 0]; }
  uint8_t PrivacyMaskCount() const { return privacyMaskCount_; }

 protected:
  bool Stopping() const { return stopEvent_.IsSet(); }

  std::string brand_ = "ACTi";
  std::string model_;
  AudioCapability audioIn_;
  AudioCapability audioOut_;
  uint32_t privacySupported_ = 0;
  uint8_t hostAtLeast64_ = 0;
  uint8_t hostAtLeast61_ = 0;
  uint8_t ptzSupported_ = 0;
  uint8_t motionSupported_ = 0;
  uint8_t edgeStorage_ = 0;
  DEVICE_INFO device_;
  uint32_t initialFlag_ = 0;
  CManualEvent stopEvent_;
  uint32_t ntsc_ = 0;
  uint32_t digitalInputs_ = 0;
  uint32_t digitalOutputs_ = 0;
  uint32_t channels_ = 1;
  uint32_t streamCount_ = 1;
  std::array<StreamCapabilities, 3> streamCaps_;
  uint8_t privacyMaskCount_ = 0;
};

}  // namespace orbisan
