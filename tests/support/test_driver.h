#pragma once

// An IDriver for unit tests: parameters and device record set by the test,
// log lines recorded (with their level) instead of sent to a host.

#include <cstdarg>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "camera/h_utils_text.h"
#include "device/idriver.h"
#include "runtime/format.h"

namespace orbisan::test {

struct LogLine {
  uint32_t level;
  std::string text;
  // The text after the "where: " prefix, which names a method and may change with the code.
  std::string Message() const {
    const size_t at = text.find(": ");
    return at == std::string::npos ? text : text.substr(at + 2);
  }
};

class TestDriver : public IDriver {
 public:
  TestDriver() {
    info.address = "127.0.0.1";
    info.port = 80;
  }

  std::string GetDeviceName() override { return info.address + Format(":%hu", info.port); }
  void DebugMessage(uint32_t level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({level, text});
  }
  std::string GetDriverName() override { return "Strandline"; }
  std::string GetHostDirectory() override { return hostDirectory; }
  DEVICE_INFO* GetDeviceInfo() override { return &info; }
  std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputCount, outputCount}; }
  ipcapture::IMediaSampleAllocator* GetSampleAllocator() override { return allocator; }
  int32_t GetVideoStandard(uint32_t, uint32_t) override { return videoStandard; }
  uint32_t GetDefaultCodec() override { return defaultCodec; }
  uint32_t GetChannelCount() override { return channelCount; }
  IEdgeStorageTask* GetEdgeStorageTask() override { return edgeStorageTask; }
  std::string GetStringParameter(uint32_t id) override {
    auto it = parameters.find(id);
    if (it == parameters.end() || it->second == "(none)") return {};
    return it->second;
  }
  int32_t GetIntParameter(uint32_t id) override {
    auto it = parameters.find(id);
    int value = 0;
    return it != parameters.end() && HUtils::ParseInt(it->second, value) ? value : kNoIntParameter;
  }
  const StreamKindSettings& GetStreamKindSettings() override { return streamKindSettings; }

  std::vector<LogLine> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // Lines containing the given text.
  std::vector<LogLine> LinesWith(const std::string& needle) {
    std::vector<LogLine> out;
    for (const LogLine& line : Lines()) {
      if (line.text.find(needle) != std::string::npos) out.push_back(line);
    }
    return out;
  }
  void ClearLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

  DEVICE_INFO info;
  std::map<uint32_t, std::string> parameters;
  std::string hostDirectory = "/tmp/";
  uint32_t inputCount = 0;
  uint32_t outputCount = 0;
  uint32_t channelCount = 1;
  uint32_t defaultCodec = 3;
  int32_t videoStandard = 0;
  ipcapture::IMediaSampleAllocator* allocator = nullptr;
  StreamKindSettings streamKindSettings;
  IEdgeStorageTask* edgeStorageTask = nullptr;

 private:
  std::mutex mutex_;
  std::vector<LogLine> lines_;
};

}  // namespace orbisan::test
