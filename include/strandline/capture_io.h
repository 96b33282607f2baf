#pragma once

#include <cstdint>

namespace orbisan::ipcapture {

// The host's I/O callback, called from the driver's threads.
class IIOCallback {
 public:
  virtual ~IIOCallback() = default;
  // state: 1 the camera reports the input's bit set, 2 clear.
  virtual void OnInputStateChanged(uint32_t index, uint32_t state) = 0;
  // A poll or an output write failed; every known state was reset.
  virtual void OnIOFailure() = 0;
};

// Digital inputs and outputs of the device. Indexes are zero-based over all
// inputs (or all outputs) of the device.
class ICaptureIOApi {
 public:
  virtual ~ICaptureIOApi() = default;
  // False for null; may be called before or after StartIO.
  virtual bool SetCallback(IIOCallback* callback) = 0;
  virtual bool StartIO() = 0;
  virtual bool StopIO() = 0;
  virtual uint32_t GetInputCount() = 0;
  virtual uint32_t GetOutputCount() = 0;
  // Queued; returns at once. state 1 sets the output's bit, anything else clears it.
  virtual bool SetOutputState(uint32_t index, uint32_t state) = 0;
};

}  // namespace orbisan::ipcapture
