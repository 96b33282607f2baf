#pragma once

#include <cstdint>

namespace orbisan::ipcapture {

// Host objects that receive what a capability query learnt about a device.
// The host implements them; the driver calls only the operations named here.
// Slots the driver never calls are kept as placeholders so that the order of
// the operations stays that of the host's tables.

class ICapabilityValue {
 public:
  virtual ~ICapabilityValue() = default;
  virtual void SetValue(const char* text) = 0;
};

class ICapabilityItem {
 public:
  virtual ~ICapabilityItem() = default;
  virtual void SetValue(const char* text) = 0;
  virtual void UnusedSlot2() {}
  virtual void UnusedSlot3() {}
  virtual void SetType(uint32_t type) = 0;  // 1 text, 0 number or flag
  virtual void SetName(const char* name) = 0;
  virtual void SetFlags(uint32_t flags) = 0;  // the driver passes 0
};

class IResolutionSink {
 public:
  virtual ~IResolutionSink() = default;
  virtual void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameValue) = 0;
};

// Frame rates in the host's encoding: a frame interval in milliseconds, or a
// rate with the bits 0x70000000 set.
class IFrameRateSink {
 public:
  virtual ~IFrameRateSink() = default;
  virtual void SetDefault(uint32_t value) = 0;
  virtual void Add(uint32_t value) = 0;
};

class ICapabilityStore {
 public:
  virtual ~ICapabilityStore() = default;
  virtual void SetCapability(uint32_t id, uint32_t value) = 0;
  virtual void SetDeviceName(const char* name) = 0;
  // 1 address, 2 port, 3 user name, 4 password.
  virtual ICapabilityValue* GetConnectionField(uint32_t index) = 0;
  virtual void UnusedSlot4() {}
  virtual ICapabilityItem* CreateItem(uint32_t id) = 0;
  virtual IResolutionSink* GetResolutionSink() = 0;
  virtual void UnusedSlot7() {}
  virtual IFrameRateSink* GetFrameRateSink(uint32_t which) = 0;
};

}  // namespace orbisan::ipcapture
