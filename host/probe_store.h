#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "strandline/capability_query.h"

namespace strandline::host {

// What a capability query wrote, kept as a recorder's configuration screen
// would keep it, and printed as lines, as one JSON object or as --param
// options for "strandline record".
class ProbeStore : public orbisan::ipcapture::ICapabilityStore {
 public:
  struct Item {
    std::string name;
    std::string value;
  };
  struct Resolution {
    std::string text;
    uint32_t width, height, frameValue;
  };

  ProbeStore();

  void SetCapability(uint32_t id, uint32_t value) override;
  void SetDeviceName(const char* name) override;
  orbisan::ipcapture::ICapabilityValue* GetConnectionField(uint32_t index) override;
  orbisan::ipcapture::ICapabilityItem* CreateItem(uint32_t id) override;
  orbisan::ipcapture::IResolutionSink* GetResolutionSink() override { return &resolutionSink_; }
  orbisan::ipcapture::IFrameRateSink* GetFrameRateSink(uint32_t) override { return &frameRateSink_; }

  std::string Lines() const;
  std::string Json() const;
  // The 16 numbered properties as shell-quoted "--param N=VALUE" options.
  std::string Params() const;

 private:
  struct Field : orbisan::ipcapture::ICapabilityValue {
    void SetValue(const char* text) override;
    ProbeStore* store = nullptr;
    uint32_t index = 0;
  };
  struct ItemWriter : orbisan::ipcapture::ICapabilityItem {
    void SetValue(const char* text) override;
    void SetType(uint32_t) override {}
    void SetName(const char* name) override;
    void SetFlags(uint32_t) override {}
    ProbeStore* store = nullptr;
    uint32_t id = 0;
  };
  struct ResolutionSink : orbisan::ipcapture::IResolutionSink {
    void Add(const char* text, uint32_t width, uint32_t height, uint32_t frameValue) override;
    ProbeStore* store = nullptr;
  };
  struct FrameRateSink : orbisan::ipcapture::IFrameRateSink {
    void SetDefault(uint32_t value) override;
    void Add(uint32_t value) override;
    ProbeStore* store = nullptr;
  };
  // Connection field index 4 holds the password, never shown.
  std::string ShownField(uint32_t index, const std::string& value) const { return index == 4 ? "***" : value; }

  mutable std::mutex mutex_;
  std::string deviceName_;
  std::vector<std::pair<uint32_t, uint32_t>> capabilities_;
  std::map<uint32_t, Item> items_;  // ids 1 to 16 are the device properties
  std::vector<Resolution> resolutions_;
  std::optional<uint32_t> defaultFrameRate_;
  std::vector<uint32_t> frameRates_;
  std::map<uint32_t, std::string> connection_;
  std::map<uint32_t, Field> fields_;
  std::map<uint32_t, ItemWriter> itemWriters_;
  ResolutionSink resolutionSink_;
  FrameRateSink frameRateSink_;
};

// Waits for the one answer of a started query.
class ProbeCallback : public orbisan::ipcapture::ICapabilityQueryCallback {
 public:
  enum class Outcome { kNone, kCompleted, kFailed, kTerminated };

  void OnCompleted() override;
  void OnFailed(uint32_t status, const char* message) override;
  void OnTerminated() override;

  // kNone when nothing came within the time.
  Outcome Wait(uint32_t timeoutMs);
  uint32_t Status() const;
  std::string Message() const;

 private:
  void Finish(Outcome outcome, uint32_t status, const char* message);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Outcome outcome_ = Outcome::kNone;
  uint32_t status_ = 0;
  std::string message_;
};

}  // namespace strandline::host
