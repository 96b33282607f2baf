#pragma once
// The vendor library as the tests script it: every call is recorded by name,
// the raw-data callback is kept so a test can feed blocks, and KConnect can
// be held until the test lets it go. One instance at a time (plain C
// function pointers cannot carry one).
#include <cstring>
#include <functional>
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
    lib.KOpenInterface = [] { return Current()->Call("KOpenInterface"), reinterpret_cast<KHandle>(0x1234); };
    lib.KGetPortInfoByHTTP = [](KHandle, uint8_t* out, const char*, uint32_t, const char*, const char*, uint32_t) {
      FakeKMpeg4* self = Current();
      self->Call("KGetPortInfoByHTTP");
      if (self->portInfo.empty()) return 0;
      std::memcpy(out, self->portInfo.data(), self->portInfo.size());
      return 1;
    };
    lib.KGetTCPTypeByHTTP = [](KHandle, const char*, uint32_t, const char*, const char*, uint32_t) {
      return Current()->Call("KGetTCPTypeByHTTP"), 7;
    };
    lib.KSetTCPType = [](KHandle, int32_t type) { Current()->Call("KSetTCPType " + std::to_string(type)); };
    lib.KSetMediaConfig = [](KHandle, const uint8_t* record) {
      FakeKMpeg4* self = Current();
      self->Call("KSetMediaConfig");
      std::lock_guard<std::mutex> guard(self->mutex_);
      self->record.assign(record, record + kKMediaConfigSize);
      return 1;
    };
    lib.KSetRawDataCallback = [](KHandle, void* context, KRawDataCallback callback) {
      FakeKMpeg4* self = Current();
      self->Call("KSetRawDataCallback");
      std::lock_guard<std::mutex> guard(self->mutex_);
      self->context_ = context;
      self->callback_ = callback;
    };
    lib.KConnect = [](KHandle) {
      FakeKMpeg4* self = Current();
      self->Call("KConnect");
      self->connectEntered.Set();
      self->connectRelease.Wait(kInfinite);
      return self->connectResult ? 1 : 0;
    };
    lib.KStartStreaming = [](KHandle) { return Current()->Call("KStartStreaming"), 1; };
    lib.KStop = [](KHandle) { Current()->Call("KStop"); };
    lib.KStopStreaming = [](KHandle) { Current()->Call("KStopStreaming"); };
    lib.KDisconnect = [](KHandle) { Current()->Call("KDisconnect"); };
    lib.KCloseInterface = [](KHandle) { Current()->Call("KCloseInterface"); };
    lib.KGetAudioToken = [](KHandle, uint8_t*) { return Current()->Call("KGetAudioToken"), 1; };
    lib.KSendAudio = [](KHandle, const uint8_t* data, uint32_t length) {
      FakeKMpeg4* self = Current();
      self->Call("KSendAudio");
      std::lock_guard<std::mutex> guard(self->mutex_);
      self->sent.emplace_back(data, data + length);
      return self->sendResult ? 1 : 0;
    };
    lib.KFreeAudioToken = [](KHandle, uint8_t*) { Current()->Call("KFreeAudioToken"); };
    connectRelease.Set();
  }
  ~FakeKMpeg4() {
    connectRelease.Set();
    Current() = nullptr;
  }

  // Hands a block to the channel as the library's thread would.
  void Feed(const std::vector<uint8_t>& block, uint32_t type = 1) {
    KRawDataCallback callback;
    void* context;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      callback = callback_;
      context = context_;
    }
    if (callback != nullptr) callback(context, type, block.data(), static_cast<uint32_t>(block.size()));
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
  }
  size_t CountOf(const std::string& name) {
    size_t n = 0;
    for (const std::string& call : Calls()) n += call == name;
    return n;
  }
  std::vector<uint8_t> Record() {
    std::lock_guard<std::mutex> guard(mutex_);
    return record;
  }
  std::vector<std::vector<uint8_t>> Sent() {
    std::lock_guard<std::mutex> guard(mutex_);
    return sent;
  }

  KMpeg4Library lib;
  std::vector<uint8_t> portInfo;  // 32 bytes to answer KGetPortInfoByHTTP with; empty = no answer
  bool connectResult = true;
  bool sendResult = true;
  CManualEvent connectEntered;
  CManualEvent connectRelease;  // reset it to hold KConnect

 private:
  static FakeKMpeg4*& Current() {
    static FakeKMpeg4* current = nullptr;
    return current;
  }
  void Call(const std::string& name) {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back(name);
  }

  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<uint8_t> record;
  std::vector<std::vector<uint8_t>> sent;
  void* context_ = nullptr;
  KRawDataCallback callback_ = nullptr;
};

}  // namespace orbisan::test
