#include "io/io_base.h"

#include <vector>

#include "runtime/format.h"

namespace orbisan {

namespace {

// Outputs are written as "bit set" only for state 1.
constexpr uint32_t kOutputCleared = 2;

}  // namespace

CIOBase::CIOBase(IDriver* driver)
    : driver_(driver), inputThread_(this, &CIOBase::GetInputStatesWrapper, driver), outputThread_(this, driver) {
  inputThread_.SetInterval(kPollIntervalMs);
}

CIOBase::~CIOBase() {
  // The threads call back into this object: they end before its parts go.
  stopEvent_.Set();
  outputThread_.Stop();
  inputThread_.StopTicking(driver_->GetDeviceInfo()->connectTimeoutMs);
}

bool CIOBase::SetCallback(ipcapture::IIOCallback* callback) {
  if (callback == nullptr) return false;
  callback_.store(callback);
  return true;
}

uint32_t CIOBase::GetInputCount() { return driver_->GetIOCounts().first; }

uint32_t CIOBase::GetOutputCount() { return driver_->GetIOCounts().second; }

void CIOBase::ResetStates() {
  const auto [inputs, outputs] = driver_->GetIOCounts();
  CAutoLock guard(lock_);
  outputStates_.clear();
  for (uint32_t i = 0; i < outputs; ++i) outputStates_[i] = 0;
  inputStates_.clear();
  for (uint32_t i = 0; i < inputs; ++i) inputStates_[i] = 0;
}

bool CIOBase::StartIO() {
  std::lock_guard<std::mutex> lock(startStopMutex_);
  // A second start begins anew: the running threads are inside the senders
  // that OnIOStarted replaces.
  if (started_) StopThreads();
  started_ = true;
  stopEvent_.Reset();
  ResetStates();
  OnIOStarted();
  const std::string names = driver_->GetDriverName() + ": " + driver_->GetDeviceName();
  const auto [inputs, outputs] = driver_->GetIOCounts();
  bool ok = true;
  if (outputs != 0) {
    const std::string name = "Digital Output thread (" + names + ")";
    if (outputThread_.Start(name)) {
      // The camera gets the whole register once, every relay released: a
      // start must not switch on what the outputs drive.
      for (uint32_t i = 0; i < outputs; ++i) outputThread_.AddItem(new COutputState(i, kOutputCleared), 0);
    } else {
      driver_->DebugMessage(kLogError, "%s: Starting of %s failed!", "orbisan::CIOBase::StartIO", name.c_str());
      ok = false;
    }
  }
  if (inputs != 0) {
    const std::string name = "Digital Input thread (" + names + ")";
    if (!inputThread_.StartTicking(name)) {
      driver_->DebugMessage(kLogError, "%s: Starting of %s failed!", "orbisan::CIOBase::StartIO", name.c_str());
      ok = false;
    }
  }
  return ok;
}

bool CIOBase::StopIO() {
  std::lock_guard<std::mutex> lock(startStopMutex_);
  started_ = false;
  return StopThreads();
}

bool CIOBase::StopThreads() {
  const uint32_t timeoutMs = driver_->GetDeviceInfo()->connectTimeoutMs;
  stopEvent_.Set();
  outputThread_.SignalStop();
  CancelRequests();
  bool ok = true;
  if (!outputThread_.Stop()) {
    driver_->DebugMessage(kLogError, "%s: Stop Output thread failed! Device %s", "orbisan::CIOBase::StopIO",
                          driver_->GetDeviceName().c_str());
    ok = false;
  }
  if (!inputThread_.StopTicking(timeoutMs)) {
    driver_->DebugMessage(kLogError, "%s: Stop Input thread failed! Device %s", "orbisan::CIOBase::StopIO",
                          driver_->GetDeviceName().c_str());
    ok = false;
  }
  ResetStates();
  return ok;
}

bool CIOBase::SetOutputState(uint32_t index, uint32_t state) {
  // An output the device does not have is never written: say so at once.
  if (index >= GetOutputCount()) return false;
  return outputThread_.AddItem(new COutputState(index, state), 0);
}

void CIOBase::Fail() {
  ResetStates();
  if (ipcapture::IIOCallback* callback = callback_.load()) callback->OnIOFailure();
}

void CIOBase::SetOutputStateWrapper(uint32_t index, uint32_t state) {
  bool changed = false;
  {
    CAutoLock guard(lock_);
    auto it = outputStates_.find(index);
    if (it != outputStates_.end() && it->second != state) {
      it->second = state;
      changed = true;
    }
  }
  if (!changed) return;
  if (WriteOutputs(index, state)) {
    outputFailureLog_ = true;
    return;
  }
  // A request cut short by StopIO is no camera failure.
  if (IsStopping()) return;
  Fail();
  if (outputFailureLog_) {
    outputFailureLog_ = false;
    const DEVICE_INFO* device = driver_->GetDeviceInfo();
    driver_->DebugMessage(kLogError, "%s: Unable to change output state for device %s:%u (output index %u)",
                          "orbisan::CIOBase::SetOutputStateWrapper", device->address.c_str(),
                          static_cast<unsigned>(device->port), index);
  }
}

void CIOBase::GetInputStatesWrapper() {
  try {
    PollInputs();
  } catch (...) {
    driver_->DebugMessage(kLogError, "%s: Unhandled exception in driver instance for device %s",
                          "orbisan::CIOBase::GetInputStatesWrapper", driver_->GetDeviceName().c_str());
  }
}

void CIOBase::PollInputs() {
  if (GetInputStates(GetInputCount())) {
    inputFailureLog_ = true;
    return;
  }
  if (IsStopping()) return;
  Fail();
  if (inputFailureLog_) {
    inputFailureLog_ = false;
    const DEVICE_INFO* device = driver_->GetDeviceInfo();
    driver_->DebugMessage(kLogError, "%s: GetInputStates() method failed! Device %s:%u",
                          "orbisan::CIOBase::GetInputStatesWrapper", device->address.c_str(),
                          static_cast<unsigned>(device->port));
  }
}

void CIOBase::ChangeInputState(uint32_t index, uint32_t state) {
  bool changed = false;
  {
    CAutoLock guard(lock_);
    auto it = inputStates_.find(index);
    if (it != inputStates_.end() && it->second != state) {
      it->second = state;
      changed = true;
    }
  }
  if (!changed) return;
  if (ipcapture::IIOCallback* callback = callback_.load()) callback->OnInputStateChanged(index, state);
}

bool CIOBase::CopyOutputStates(uint32_t first, uint32_t count, std::map<uint32_t, uint32_t>& out) {
  CAutoLock guard(lock_);
  if (outputStates_.size() < static_cast<size_t>(first) + 1) return false;
  out.clear();
  for (uint32_t i = 0; i < count; ++i) {
    auto it = outputStates_.find(first + i);
    out[i] = it == outputStates_.end() ? 0 : it->second;
  }
  return true;
}

}  // namespace orbisan
