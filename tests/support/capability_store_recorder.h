#pragma once

// A capability store that keeps what it is given, as a host would.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "strandline/capability_store.h"

namespace orbisan::test {

struct RecordedItem : ipcapture::ICapabilityItem {
  void SetValue(const char* text) override { value = text; }
  void SetType(uint32_t t) override { type = t; }
  void SetName(const char* n) override { name = n; }
  void SetFlags(uint32_t f) override { flags = f; }
  std::string value, name;
  uint32_t type = 99, flags = 99;
};

struct RecordedValue : ipcapture::ICapabilityValue {
  void SetValue(const char* text) override { value = text; }
  std::string value;
};

struct RecordedResolution {
  std::string text;
  uint32_t width, height, frameValue;
};

struct RecordedResolutions : ipcapture::IResolutionSink {
  void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameValue) override {
    list.push_back({text, width, height, frameValue});
  }
  std::vector<RecordedResolution> list;
};

struct RecordedFrameRates : ipcapture::IFrameRateSink {
  void SetDefault(uint32_t value) override { defaults.push_back(value); }
  void Add(uint32_t value) override { values.push_back(value); }
  std::vector<uint32_t> defaults, values;
};

struct CapabilityStoreRecorder : ipcapture::ICapabilityStore {
  void SetCapability(uint32_t id, uint32_t value) override {
    capabilities[id] = value;
    capabilityOrder.emplace_back(id, value);
  }
  void SetDeviceName(const char* name) override { deviceName = name; }
  ipcapture::ICapabilityValue* GetConnectionField(uint32_t index) override {
    return index >= 1 && index <= 4 ? &connection[index] : nullptr;
  }
  ipcapture::ICapabilityItem* CreateItem(uint32_t id) override {
    auto& slot = items[id];
    slot = std::make_unique<RecordedItem>();
    return slot.get();
  }
  ipcapture::IResolutionSink* GetResolutionSink() override { return &resolutions; }
  ipcapture::IFrameRateSink* GetFrameRateSink(uint32_t which) override {
    frameRateSinkAsked = which;
    return &frameRates;
  }

  std::string Item(uint32_t id) const {
    auto it = items.find(id);
    return it == items.end() ? std::string("<absent>") : it->second->value;
  }

  std::map<uint32_t, uint32_t> capabilities;
  std::vector<std::pair<uint32_t, uint32_t>> capabilityOrder;
  std::map<uint32_t, std::unique_ptr<RecordedItem>> items;
  std::map<uint32_t, RecordedValue> connection;
  std::string deviceName;
  RecordedResolutions resolutions;
  RecordedFrameRates frameRates;
  uint32_t frameRateSinkAsked = 0;
};

}  // namespace orbisan::test
