#pragma once

// A capability store that keeps what it is given, for the tests, and the
// host core version that the test program reports through the loader.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/capability_store.h"

namespace orbisan::test {

// Version reported by the test program's basalt_product_version; none when
// hostVersionKnown is false.
extern std::array<uint16_t, 4> hostVersion;
extern bool hostVersionKnown;

struct RecordedItem : ipcapture::ICapabilityItem {
  void SetValue(const char* text) override { value = text; }
  void SetType(uint32_t t) override { type = t; }
  void SetName(const char* n) override { name = n; }
  void SetFlags(uint32_t f) override { flags = f; }
  std::string value, name;
  uint32_t type = 99, flags = 99;
};

struct RecordedFrameRates : ipcapture::IFrameRateSink {
  void SetDefault(uint32_t value) override { defaults.push_back(value); }
  void Add(uint32_t value) override { values.push_back(value); }
  std::vector<uint32_t> defaults, values;
};

struct CapabilityStoreRecorder : ipcapture::ICapabilityStore {
  void SetCapability(uint32_t id, uint32_t value) override { capabilities[id] = value; }
  void SetDeviceName(const char* name) override { deviceName = name; }
  ipcapture::ICapabilityValue* GetConnectionField(uint32_t) override { return nullptr; }
  ipcapture::ICapabilityItem* CreateItem(uint32_t id) override {
    auto& slot = items[id];
    slot = std::make_unique<RecordedItem>();
    return slot.get();
  }
  ipcapture::IResolutionSink* GetResolutionSink() override { return nullptr; }
  ipcapture::IFrameRateSink* GetFrameRateSink(uint32_t) override { return &frameRates; }

  std::map<uint32_t, uint32_t> capabilities;
  std::map<uint32_t, std::unique_ptr<RecordedItem>> items;
  std::string deviceName;
  RecordedFrameRates frameRates;
};

}  // namespace orbisan::test
