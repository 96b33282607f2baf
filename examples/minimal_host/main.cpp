// The smallest recorder-side program: links the installed driver, asks a
// camera who it is through the capability query and prints the answer.
//   minimal_host ADDRESS PORT USER PASSWORD
#include <strandline/exports.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

using namespace orbisan::ipcapture;

class Ignored : public ICapabilityValue, public ICapabilityItem, public IResolutionSink, public IFrameRateSink {
 public:
  void SetValue(const char*) override {}
  void SetType(uint32_t) override {}
  void SetName(const char*) override {}
  void SetFlags(uint32_t) override {}
  void Add(const char*, uint32_t, uint32_t, uint32_t) override {}
  void SetDefault(uint32_t) override {}
  void Add(uint32_t) override {}
};

// Keeps only the device name; every other answer goes nowhere.
class NameStore : public ICapabilityStore {
 public:
  void SetCapability(uint32_t, uint32_t) override {}
  void SetDeviceName(const char* name) override { name_ = name == nullptr ? "" : name; }
  ICapabilityValue* GetConnectionField(uint32_t) override { return &ignored_; }
  ICapabilityItem* CreateItem(uint32_t) override { return &ignored_; }
  IResolutionSink* GetResolutionSink() override { return &ignored_; }
  IFrameRateSink* GetFrameRateSink(uint32_t) override { return &ignored_; }
  const std::string& name() const { return name_; }

 private:
  Ignored ignored_;
  std::string name_;
};

class Outcome : public ICapabilityQueryCallback {
 public:
  void OnCompleted() override { Finish("completed"); }
  void OnFailed(uint32_t status, const char* message) override {
    Finish("failed status=" + std::to_string(status) + " " + (message == nullptr ? "" : message));
  }
  void OnTerminated() override { Finish("terminated"); }
  bool Wait(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, limit, [&] { return !result_.empty(); });
  }
  std::string Result() {
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
  }

 private:
  void Finish(const std::string& result) {
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = result;
    done_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable done_;
  std::string result_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s ADDRESS PORT USER PASSWORD\n", argv[0]);
    return 2;
  }
  Outcome outcome;
  NameStore store;
  IIPCapabilityQuery* query = CreateCapabilityQueryModule(&outcome, 0);
  if (query == nullptr) return 1;
  const auto port = static_cast<uint16_t>(std::atoi(argv[2]));
  const bool started = query->Start(argv[1], port, argv[3], argv[4], &store) == 1;
  const bool ended = started && outcome.Wait(std::chrono::seconds(60));
  if (!ended) query->Terminate();
  DeleteCapabilityQueryModule(query);
  const std::string result = outcome.Result();
  std::printf("query=%s device=%s\n", result.empty() ? "none" : result.c_str(), store.name().c_str());
  return result == "completed" && !store.name().empty() ? 0 : 1;
}
