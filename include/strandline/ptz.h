#pragma once

#include <cstdint>

namespace orbisan::ipcapture {

// Result codes of the PTZ operations.
enum PtzResult : int32_t {
  kPtzOk = 1,
  kPtzInvalidArgument = -3,   // bad argument, or an output buffer too small
  kPtzNotSent = -18,          // no command object, or the command was not posted or sent
  kPtzNoSuchPreset = -23,     // the named or indexed preset does not exist
  kPtzCapacityReached = -26,  // the camera stores no more presets
};

// What a PTZ channel can do; the host passes it to be filled. Field 0 is
// never written.
struct PTZ_CAPABILITIES {
  uint32_t fields[14] = {};
};

// Indices into PTZ_CAPABILITIES::fields.
enum PtzCapabilityField : uint32_t {
  kPtzCapPanTilt = 1,
  kPtzCapZoom = 2,
  kPtzCapFocus = 3,
  kPtzCapFocusMode = 4,
  kPtzCapIris = 5,
  kPtzCapAreaZoom = 6,
  kPtzCapPresetCapacity = 7,
  kPtzCapPresetCount = 8,
  kPtzCapExtra = 13,
};

// Move directions.
enum PtzDirection : uint32_t {
  kPtzLeft = 0,
  kPtzRight = 1,
  kPtzUp = 2,
  kPtzDown = 3,
  kPtzUpLeft = 4,
  kPtzUpRight = 5,
  kPtzDownLeft = 6,
  kPtzDownRight = 7,
  kPtzZoomIn = 8,
  kPtzZoomOut = 9,
};

// One PTZ channel. Speeds are on the host's scale 0..16. Preset names are
// UTF-8. Every operation returns at once except the preset ones, which wait
// for the camera.
class IIPPTZApi {
 public:
  virtual ~IIPPTZApi() = default;
  virtual int32_t GetStatus() = 0;
  virtual int32_t Move(uint32_t direction, uint32_t speed) = 0;
  // Stops only what this channel was told to start.
  virtual int32_t Stop() = 0;
  virtual int32_t Center(uint32_t a, uint32_t b, uint32_t c) = 0;
  virtual int32_t ZoomIn(uint32_t speed) = 0;
  virtual int32_t ZoomOut(uint32_t speed) = 0;
  virtual int32_t Unzoom(uint32_t a) = 0;
  virtual int32_t AreaZoom(uint32_t a, uint32_t b, uint32_t c, uint32_t d) = 0;
  virtual int32_t FocusNear(uint32_t speed) = 0;
  virtual int32_t FocusFar(uint32_t speed) = 0;
  virtual int32_t IrisOpen(uint32_t speed) = 0;
  virtual int32_t IrisClose(uint32_t speed) = 0;
  virtual int32_t GetCapabilities(PTZ_CAPABILITIES* capabilities) = 0;
  virtual int32_t GetPresetCount() = 0;
  // Copies the name with its terminating zero; -3 when it does not fit.
  virtual int32_t GetPresetName(uint32_t index, char* buffer, uint32_t size) = 0;
  virtual int32_t GoToPreset(uint32_t value, const char* name) = 0;
  virtual int32_t AddPreset(const char* name) = 0;
  virtual int32_t RemovePreset(const char* name) = 0;
  virtual int32_t GetCurrentPresetName(char* buffer, uint32_t size) = 0;
};

class IIPPTZApiEx : public IIPPTZApi {
 public:
  virtual bool QueryOption(uint32_t option) = 0;
};

// The PTZ side of one device: one control per PTZ channel, owned by the
// driver and valid until the driver closes.
class IIPPTZDriver {
 public:
  virtual ~IIPPTZDriver() = default;
  virtual IIPPTZApi* GetPTZApi(uint32_t channel) = 0;
};

class IIPPTZDriverEx : public IIPPTZDriver {
 public:
  // Null for a channel the device does not have or whose control cannot open.
  virtual IIPPTZApi* GetPTZApiEx(uint32_t channel) = 0;
};

}  // namespace orbisan::ipcapture
