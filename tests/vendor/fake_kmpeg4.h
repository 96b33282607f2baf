#pragma once
// The vendor library as the tests script it: every call is recorded by name,
// the raw-data callback is kept so a test can feed blocks, and KConnect can
// be held. One instance at a time (plain C function pointers carry none).
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kmpeg4_library.h"
#include "runtime/event.h"

namespace orbisan::test {

class FakeKMpeg4 {
 public:
  FakeKMpeg4() {
    Current() = this;
    connectRelease.Set();
    lib.KOpenInterface = [] { return Call("KOpenInterface"), reinterpret_cast<KHandle>(0x1234); };
    lib.KGetPortInfoByHTTP = [](KHandle, uint8_t* out, const char*, uint32_t, const char*, const char*, uint32_t) {
      Call("KGetPortInfoByHTTP");
      if (Current()->portInfo.empty()) return 0;
      return std::memcpy(out, Current()->portInfo.data(), kKPortInfoSize), 1;
    };
    lib.KGetTCPTypeByHTTP = [](KHandle, const char*, uint32_t, const char*, const char*, uint32_t) {
      return Call("KGetTCPTypeByHTTP"), 7;
    };
    lib.KSetTCPType = [](KHandle, int32_t type) { Call("KSetTCPType " + std::to_string(type)); };
    lib.KSetMediaConfig = [](KHandle, const uint8_t* record) {
      std::lock_guard<std::recursive_mutex> guard(Current()->mutex_);
      Current()->record_.assign(record, record + kKMediaConfigSize);
      return Call("KSetMediaConfig"), 1;
    };
    lib.KSetRawDataCallback = [](KHandle, void* context, KRawDataCallback callback) {
      std::lock_guard<std::recursive_mutex> guard(Current()->mutex_);
      Current()->context_ = context;
      Current()->callback_ = callback;
      Call("KSetRawDataCallback");
    };
    lib.KConnect = [](KHandle) {
      FakeKMpeg4* self = Current();
      Call("KConnect");
      self->connectEntered.Set();
      self->connectRelease.Wait(kInfinite);
      return 1;
    };
    lib.KStartStreaming = [](KHandle) { return Call("KStartStreaming"), 1; };
    lib.KStop = [](KHandle) { Call("KStop"); };
    lib.KStopStreaming = [](KHandle) { Call("KStopStreaming"); };
    lib.KDisconnect = [](KHandle) { Call("KDisconnect"); };
    lib.KCloseInterface = [](KHandle) { Call("KCloseInterface"); };
    lib.KGetAudioToken = [](KHandle, uint8_t*) {
      Call("KGetAudioToken");
      return Current()->connectRelease.Wait(kInfinite), 1;
    };
    lib.KSendAudio = [](KHandle, const uint8_t* data, uint32_t length) {
      std::lock_guard<std::recursive_mutex> guard(Current()->mutex_);
      Current()->sent_.emplace_back(data, data + length);
      return Call("KSendAudio"), 1;
    };
    lib.KFreeAudioToken = [](KHandle, uint8_t*) { Call("KFreeAudioToken"); };
  }
  ~FakeKMpeg4() { Current() = nullptr; }

  // Hands a block to the channel as the library's thread would.
  void Feed(const std::vector<uint8_t>& block, uint32_t type = 1) {
    std::unique_lock<std::recursive_mutex> guard(mutex_);
    KRawDataCallback callback = callback_;
    void* context = context_;
    guard.unlock();
    if (callback != nullptr) callback(context, type, block.data(), static_cast<uint32_t>(block.size()));
  }
  std::vector<std::string> Calls() { return Locked(calls_); }
  std::vector<uint8_t> Record() { return Locked(record_); }
  std::vector<std::vector<uint8_t>> Sent() { return Locked(sent_); }
  size_t CountOf(const std::string& name) {
    size_t n = 0;
    for (const std::string& call : Calls()) n += call == name;
    return n;
  }

  KMpeg4Library lib;
  std::vector<uint8_t> portInfo;  // what KGetPortInfoByHTTP answers (32 bytes); empty = no answer
  CManualEvent connectEntered;
  CManualEvent connectRelease;  // reset it to hold KConnect and KGetAudioToken

 private:
  static FakeKMpeg4*& Current() {
    static FakeKMpeg4* current = nullptr;
    return current;
  }
  static void Call(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(Current()->mutex_);
    Current()->calls_.push_back(name);
  }
  template <typename T>
  T Locked(const T& value) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return value;
  }

  std::recursive_mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<uint8_t> record_;
  std::vector<std::vector<uint8_t>> sent_;
  void* context_ = nullptr;
  KRawDataCallback callback_ = nullptr;
};

}  // namespace orbisan::test
