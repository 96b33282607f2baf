#pragma once

// The host's side of an open, for tests that drive the exported driver: the
// device description and its numbered parameters, and the driver module.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "strandline/capture_setup.h"
#include "strandline/debug_output.h"
#include "strandline/exports.h"

namespace orbisan::test {

class TestCaptureSetup : public ipcapture::ICaptureSetup,
                         public ipcapture::IUnitInfo,
                         public ipcapture::IConnectionInfo {
 public:
  ipcapture::IUnitInfo* GetUnitInfo() override { return this; }
  ipcapture::IConnectionInfo* GetConnectionInfo() override { return this; }
  uint32_t GetParameterCount() override { return static_cast<uint32_t>(params.size()); }
  // Gaps below the highest index read as "(none)", as a host stores them.
  const char* GetParameter(uint32_t index) override {
    ++parameterCalls[index];
    auto it = params.find(index);
    if (it != params.end()) return it->second.c_str();
    return !params.empty() && index >= 1 && index < params.rbegin()->first ? "(none)" : nullptr;
  }
  const char* GetName() override { return "unit"; }
  const char* GetModel() override { return model.c_str(); }
  uint32_t GetChannelCount() override { return channels; }
  uint32_t GetUnitType() override { return 0; }
  uint32_t GetInputCount() override { return inputs; }
  uint32_t GetOutputCount() override { return outputs; }
  const char* GetAddress() override { return address.c_str(); }
  uint16_t GetPort() override { return port; }
  uint32_t GetProtocol() override { return 0; }
  uint32_t GetDefaultCodec() override { return defaultCodec; }
  const char* GetUserName() override { return user.c_str(); }
  const char* GetPassword() override { return password.c_str(); }

  std::string address = "127.0.0.1";
  uint16_t port = 80;
  std::string user = "admin";
  std::string password = "admin";
  std::string model;
  uint32_t channels = 1;
  uint32_t inputs = 0;
  uint32_t outputs = 0;
  uint32_t defaultCodec = 3;
  std::map<uint32_t, std::string> params;
  std::map<uint32_t, int> parameterCalls;  // reads per index
};

// The host's log sink: keeps every line the driver sends.
class TestLog : public ipcapture::IDebugOutput {
 public:
  void Output(CDebugInfoIf* info) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* text = info->GetText() ? info->GetText() : "";
    if (std::getenv("STRANDLINE_TEST_VERBOSE")) std::fprintf(stderr, "[%d] %s\n", info->GetLevel(), text);
    if (!tallies_.empty()) {
      for (auto& [needle, n] : tallies_) n += std::string_view(text).find(needle) != std::string_view::npos;
      return;
    }
    lines_.push_back(text);
    levels_.push_back(info->GetLevel());
  }
  // For long runs: from now on only lines with one of these texts are
  // counted, and none is kept, so that the log does not grow the memory the
  // run measures.
  void TallyOnly(const std::vector<std::string>& needles) {
    std::map<std::string, int> tallies;
    for (const auto& needle : needles) tallies[needle] = Count(needle);
    std::lock_guard<std::mutex> lock(mutex_);
    tallies_ = std::move(tallies);
    std::vector<std::string>().swap(lines_);
    std::vector<int>().swap(levels_);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::vector<int> Levels() {
    std::lock_guard<std::mutex> lock(mutex_);
    return levels_;
  }
  // Lines that contain the text.
  int Count(const std::string& needle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = tallies_.find(needle); it != tallies_.end()) return it->second;
    int n = 0;
    for (const auto& line : lines_) n += line.find(needle) != std::string::npos;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<int> levels_;
  std::map<std::string, int> tallies_;
};

// The driver module as a host loads it, with its factory and delete exports.
class DriverModule {
 public:
  explicit DriverModule(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) return;
    create_ = reinterpret_cast<StrandlineCreateFn>(dlsym(handle_, "CreateIPCaptureEx5"));
    delete_ = reinterpret_cast<StrandlineDeleteFn>(dlsym(handle_, "DeleteIPCaptureEx5"));
  }
  ~DriverModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  DriverModule(const DriverModule&) = delete;
  DriverModule& operator=(const DriverModule&) = delete;

  bool Loaded() const { return create_ != nullptr && delete_ != nullptr; }
  ipcapture::IIPCaptureDriverEx5* Create() const { return create_(); }
  void Delete(ipcapture::IIPCaptureDriverEx5* driver) const { delete_(driver); }

 private:
  void* handle_;
  StrandlineCreateFn create_ = nullptr;
  StrandlineDeleteFn delete_ = nullptr;
};

}  // namespace orbisan::test
