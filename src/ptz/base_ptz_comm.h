#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "device/idriver.h"
#include "ptz/preposition_comm.h"
#include "ptz/work_item.h"
#include "runtime/queue_thread.h"
#include "strandline/ptz.h"

namespace orbisan {

class IIPParams;

// The command object of one PTZ channel: host requests become work items
// that one worker thread sends to the camera in order. Posting never waits
// for the camera; a bounded queue drops the oldest waiting commands.
class CBasePTZComm : public CQueueThread<CWorkItem>, public IPrepositionComm {
 public:
  CBasePTZComm(IDriver* driver, uint16_t channel);
  ~CBasePTZComm() override;

  virtual bool IsReady() { return true; }
  // The two camera speeds of a move.
  virtual std::pair<uint32_t, uint32_t> ConvertMoveSpeed(uint32_t direction, uint32_t speed) = 0;
  virtual uint32_t ConvertFocusSpeed(uint32_t speed) = 0;
  virtual uint32_t ConvertIrisSpeed(uint32_t speed) = 0;
  virtual int32_t GetStatus(IIPParams* params) = 0;
  // 1 when posted, -18 when not.
  virtual int32_t StartMove(IIPParams* params, uint32_t direction, uint32_t speed);
  virtual int32_t StartIris(IIPParams* params, bool open, uint32_t speed);
  virtual int32_t StartFocus(IIPParams* params, bool near, uint32_t speed);
  virtual int32_t AreaZoom(IIPParams* params, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
  virtual int32_t Unzoom(IIPParams* params, uint32_t a);
  virtual int32_t Center(IIPParams* params, uint32_t a, uint32_t b, uint32_t c);
  virtual int32_t GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) = 0;
  virtual bool StopMoving(IIPParams* params);
  virtual bool StopZooming(IIPParams* params);
  virtual bool StopFocusing(IIPParams* params);
  virtual bool StopIrisChanging(IIPParams* params);

  // Starts the worker thread ("BaseIPPTZThread_Ch<n>").
  bool Open();
  bool IsStarted() const { return started_; }
  // Waits until every posted command was sent or dropped; false on time-out.
  bool WaitIdle(uint32_t timeoutMs);
  // Stops the worker; commands still waiting are dropped.
  void Close();

  uint32_t GetPresetCapacity() const { return presetCapacity_; }
  uint32_t GetQueueLimit() const { return queueLimit_.load(); }
  uint16_t GetChannelIndex() const { return channel_; }

  // IPrepositionComm (removal answers true unless a camera class can delete)
  bool RemovePreposition(uint32_t slot, const std::wstring& name) override;

  // IDebugMessage: forwarded to the driver.
  std::string GetDeviceName() override;
  void DebugMessage(uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));

 protected:
  void HandleItem(CWorkItem* item) final;
  virtual void HandleWorkItem(CWorkItem* item) = 0;
  // Ends a camera request under way on the worker thread (at close).
  virtual void CancelRequests() {}

  IDriver* Driver() const { return driver_; }
  void SetPresetCapacity(uint32_t capacity) { presetCapacity_ = capacity; }
  void SetQueueLimit(uint32_t limit) { queueLimit_ = limit; }

 private:
  friend class CPostedWorkItem;
  // Posts a filled item; logs and fails when the queue refuses it.
  bool Post(CWorkItem* item, const char* logName);
  bool PostStop(IIPParams* params, uint32_t action, const char* logName);
  void ItemCreated();
  void ItemGone();

  IDriver* driver_;
  uint16_t channel_;
  uint32_t presetCapacity_ = 0;
  std::atomic<uint32_t> queueLimit_{6};
  std::atomic<bool> started_{false};

  // Items alive (queued or being handled), for WaitIdle.
  std::mutex pendingMutex_;
  std::condition_variable pendingChanged_;
  uint32_t pending_ = 0;
};

}  // namespace orbisan
