#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "device/idriver.h"
#include "runtime/event.h"
#include "runtime/queue_thread.h"
#include "runtime/recursive_lock.h"
#include "runtime/tick_thread.h"
#include "strandline/capture_io.h"

namespace orbisan {

// One requested output change, owned by the output queue.
class COutputState {
 public:
  COutputState(uint32_t index_, uint32_t state_) : index(index_), state(state_) {}
  virtual ~COutputState() = default;
  uint32_t index;
  uint32_t state;
};

// The output queue: hands every item to its owner's SetOutputStateWrapper.
template <typename T>
class TOutputHandler : public CQueueThread<COutputState> {
 public:
  TOutputHandler(T* owner, IDebugMessage* log) : CQueueThread<COutputState>(log), owner_(owner) {}
  ~TOutputHandler() override { Stop(); }
  void SignalStop() { StopEvent().Set(); }

 protected:
  void HandleItem(COutputState* item) override { owner_->SetOutputStateWrapper(item->index, item->state); }

 private:
  T* owner_;
};

// The device-independent part of the digital I/O object: polls the inputs on
// a tick thread, reports changes to the host, and writes outputs in request
// order on a queue thread so that the host never waits for the camera.
class CIOBase : public ipcapture::ICaptureIOApi {
 public:
  static constexpr uint32_t kPollIntervalMs = 2000;

  explicit CIOBase(IDriver* driver);
  ~CIOBase() override;

  bool SetCallback(ipcapture::IIOCallback* callback) override;
  bool StartIO() override;
  bool StopIO() override;
  uint32_t GetInputCount() override;
  uint32_t GetOutputCount() override;
  bool SetOutputState(uint32_t index, uint32_t state) override;

  // 2000 ms unless changed (tests shorten it); takes effect with the next wait.
  void SetPollIntervalMs(uint32_t ms) { inputThread_.SetInterval(ms); }

  void SetOutputStateWrapper(uint32_t index, uint32_t state);
  void GetInputStatesWrapper();

 protected:
  virtual bool WriteOutputs(uint32_t index, uint32_t state) = 0;
  virtual bool GetInputStates(uint32_t inputCount) = 0;
  virtual void OnIOStarted() {}
  virtual void CancelRequests() {}

  // Stores the state of a known input and tells the host when it changed.
  void ChangeInputState(uint32_t index, uint32_t state);
  void ResetStates();
  // True from StopIO until the next StartIO.
  bool IsStopping() const { return stopEvent_.IsSet(); }
  // Waits on the stop signal; true when stopping.
  bool WaitStop(uint32_t ms) { return stopEvent_.Wait(ms); }
  // States of outputs first .. first + count - 1 (0 for unknown ones); false
  // when the map does not reach the first.
  bool CopyOutputStates(uint32_t first, uint32_t count, std::map<uint32_t, uint32_t>& out);

  IDriver* driver_;

 private:
  void Fail();
  void PollInputs();
  bool StopThreads();

  TTickThread<CIOBase> inputThread_;
  TOutputHandler<CIOBase> outputThread_;
  CRecursiveLock lock_;
  std::map<uint32_t, uint32_t> inputStates_;
  std::map<uint32_t, uint32_t> outputStates_;
  std::atomic<ipcapture::IIOCallback*> callback_{nullptr};
  bool inputFailureLog_ = true;   // input thread only
  bool outputFailureLog_ = true;  // output thread only
  CManualEvent stopEvent_;
  // Start and stop one at a time: a start replaces the senders the threads
  // use, so a running start is stopped first.
  std::mutex startStopMutex_;
  bool started_ = false;
};

}  // namespace orbisan
