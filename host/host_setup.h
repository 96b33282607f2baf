#pragma once

#include <map>
#include <mutex>
#include <string>

#include "host/host_options.h"
#include "src/device/host_parameter.h"
#include "strandline/capture_setup.h"
#include "strandline/debug_output.h"

namespace strandline::host {

// The device description the host hands to Open, from command-line options.
class HostSetup : public orbisan::ipcapture::ICaptureSetup,
                  private orbisan::ipcapture::IUnitInfo,
                  private orbisan::ipcapture::IConnectionInfo {
 public:
  explicit HostSetup(const HostOptions& options) : options_(options) {}

  orbisan::ipcapture::IUnitInfo* GetUnitInfo() override { return this; }
  orbisan::ipcapture::IConnectionInfo* GetConnectionInfo() override { return this; }
  uint32_t GetParameterCount() override { return static_cast<uint32_t>(options_.params.size()); }
  // The driver reads parameters from index 1 up to the first missing one, so
  // gaps below the highest given index read as "(none)" (no value).
  const char* GetParameter(uint32_t index) override {
    auto it = options_.params.find(index);
    if (it != options_.params.end()) return it->second.c_str();
    if (index >= 1 && index <= orbisan::kParamLastDeviceProperty && !options_.params.empty() &&
        index < options_.params.rbegin()->first) {
      return "(none)";
    }
    return nullptr;
  }

 private:
  const char* GetName() override { return "strandline"; }
  const char* GetModel() override { return options_.model.c_str(); }
  uint32_t GetChannelCount() override { return options_.channels; }
  uint32_t GetUnitType() override { return 0; }
  uint32_t GetInputCount() override { return options_.inputs; }
  uint32_t GetOutputCount() override { return options_.outputs; }
  const char* GetAddress() override { return options_.address.c_str(); }
  uint16_t GetPort() override { return options_.port; }
  uint32_t GetProtocol() override { return 0; }
  uint32_t GetDefaultCodec() override { return options_.codec; }
  const char* GetUserName() override { return options_.user.c_str(); }
  const char* GetPassword() override { return options_.password.c_str(); }

  const HostOptions& options_;
};

// Driver log lines to standard error, with their level, filtered by level.
class StderrLog : public orbisan::ipcapture::IDebugOutput {
 public:
  explicit StderrLog(int maxLevel) : maxLevel_(maxLevel) {}
  void Output(orbisan::CDebugInfoIf* info) override;
  // Called before each line so that a progress display can clear itself.
  void SetBeforeLine(void (*hook)()) { beforeLine_ = hook; }

 private:
  int maxLevel_;
  std::mutex mutex_;
  void (*beforeLine_)() = nullptr;
};

}  // namespace strandline::host
