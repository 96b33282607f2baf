#pragma once

// A URL-command PTZ object whose camera is a list: every command it would
// send is recorded. A gate can hold the worker inside a send, so that tests
// can fill the queue behind it.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "ptz/acti_proto_ptz_comm.h"
#include "ptz/ip_params.h"

namespace orbisan::test {

class RecordingPTZComm : public CActiProtoPTZComm {
 public:
  using CActiProtoPTZComm::CActiProtoPTZComm;
  using CActiProtoPTZComm::SetPresetWait;
  ~RecordingPTZComm() override { Close(); }

  // Commands sent so far, without the path and login.
  std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  void Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
  }
  // Waits until a send is held at the gate.
  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return waiting_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  // Waits (bounded) until count sends were entered.
  bool WaitEntered(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return entered_ >= count; });
  }

  bool refuse = false;

 protected:
  bool Transmit(const std::string& path) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++entered_;
    const size_t login = path.find("&PWD=");
    const size_t command = path.find('&', login + 1);
    commands_.push_back(command == std::string::npos ? path : path.substr(command + 1));
    changed_.notify_all();
    if (held_) {
      waiting_ = true;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !held_; });
      waiting_ = false;
    }
    return !refuse;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> commands_;
  bool held_ = false;
  bool waiting_ = false;
  size_t entered_ = 0;
};

// The focus and iris flags a control keeps for its command object.
class FlagParams : public IIPParams {
 public:
  uint32_t GetChannel() override { return 0; }
  bool GetManualIris() override { return iris; }
  bool SetManualIris(bool manual) override { return iris = manual; }
  bool GetManualFocus() override { return focus; }
  bool SetManualFocus(bool manual) override { return focus = manual; }
  bool iris = false;
  bool focus = false;
};

}  // namespace orbisan::test
