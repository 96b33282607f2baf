#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device/idriver.h"
#include "edge/iedge_storage.h"
#include "rtsp/media_parser_client.h"
#include "rtsp/time_stamp_converter.h"
#include "runtime/event.h"
#include "runtime/logger_instance.h"
#include "runtime/recursive_lock.h"
#include "runtime/secured.h"
#include "runtime/time_utils.h"

namespace orbisan {

// Fetches one recorded interval of one channel from the camera's storage and
// hands its frames to the channel's sink, stamped with the times they were
// recorded at. How the storage is asked and the session run is left to the
// derived classes.
class CBaseEdgeStorageTask : public IEdgeStorageTask, public IMediaParserClient, public CLoggerInstance {
 public:
  // What the camera says of its storage card: a card to play from, none, or
  // no answer (down, or still coming back: the interval is asked for later).
  enum class Storage { kMounted, kNone, kUnanswered };

  explicit CBaseEdgeStorageTask(IDriver* driver);
  ~CBaseEdgeStorageTask() override = default;

  // IEdgeStorageTask
  void SetInterval(uint32_t key, uint64_t begin, uint64_t end) override;
  bool ProcessTaskItem(uint64_t* position) override;
  void AbortChannel(uint32_t key) override;
  void Abort() override { stop_.Set(); }
  void SetHandler(IEdgeStorageHandler* handler) override;
  IEdgeStorageHandler* GetHandler() override;

  // IMediaParserClient
  bool FrameReady(ipcapture::IMediaSample* frame) override;
  std::pair<uint32_t, uint32_t> GetDefaultResolution() override { return {0, 0}; }
  std::string GetStreamName() override { return driver_->GetDriverName() + "::EdgeChannel"; }
  void ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME& time) override;
  ipcapture::IMediaSampleAllocator* GetSampleAllocator() override { return driver_->GetSampleAllocator(); }

  uint64_t Position() const { return position_.Get(); }
  uint64_t DeliveredFrames() const { return delivered_.load(); }
  // Where the converter counts from for a playback that starts at position:
  // the camera is asked for whole seconds and plays from the first frame of
  // that second, so that frame's time is the second, not the position.
  static uint64_t PlaybackStart(uint64_t position);

 protected:
  virtual Storage CheckStorage() = 0;
  // Starts the playback session from position; false when it did not start.
  virtual bool StartSession(uint64_t position) = 0;
  virtual void StopSession() = 0;
  virtual bool IsSessionRunning() = 0;
  // Whether the session client's most recent request was answered.
  virtual bool LastExchangeResult() = 0;
  // Asked while the session plays: ends what waits for packets that did not
  // come; returns the milliseconds after which to ask again (0: no wish).
  virtual uint32_t FlushIdle() { return 0; }

  // Called by the derived session on its first media packet and at its end.
  void NotifyPlaying() { playing_.Set(); }
  void NotifySessionClosed() { sessionClosed_.Set(); }
  CManualEvent& StopEvent() { return stop_; }
  IDriver* Driver() const { return driver_; }

 private:
  bool WaitFileProcessing(uint64_t end);
  // The normal end of a pass: the session's last exchange decides.
  bool FinishPass(uint64_t* position);

  IDriver* driver_;
  std::atomic<uint32_t> key_{0};
  TSecured<uint64_t> position_;
  std::atomic<uint64_t> end_{0};
  CTime lastFrame_;
  CManualEvent stop_;
  CEvent playing_{false};
  CManualEvent sessionClosed_;
  CRecursiveLock converterLock_;
  CTimeStampConverter converter_;
  std::atomic<bool> waitForKeyFrame_{true};
  std::atomic<uint64_t> delivered_{0};
  CRecursiveLock handlerLock_;
  IEdgeStorageHandler* handler_ = nullptr;
};

}  // namespace orbisan
