#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "ptz/base_ptz_comm.h"
#include "ptz/pelco_d_ptz_command.h"
#include "runtime/result_def.h"

namespace Web {
class CHttpSender;
}

namespace orbisan {

// PTZ for heads on the serial port of a camera or video server: every
// command becomes Pelco-D bytes that the camera writes to its port
// ("SERIAL_HEX=FF0100040F0014"). Presets are sent at once on the caller's
// thread; everything else goes through the worker thread.
class CActiPTZComm : public CBasePTZComm {
 public:
  CActiPTZComm(IDriver* driver, uint16_t channel);
  ~CActiPTZComm() override;

  std::pair<uint32_t, uint32_t> ConvertMoveSpeed(uint32_t direction, uint32_t speed) override;
  uint32_t ConvertFocusSpeed(uint32_t speed) override;
  uint32_t ConvertIrisSpeed(uint32_t) override { return 0; }
  int32_t GetStatus(IIPParams*) override { return 1; }
  int32_t GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) override;

  bool SavePreposition(uint32_t slot, const std::wstring& name) override;
  bool GoToPreposition(uint32_t slot, const std::wstring& name, uint32_t value) override;
  bool RemovePreposition(uint32_t slot, const std::wstring& name) override;

  const std::string& CgiName() const { return cgiName_; }
  // "CHANNEL=<n>&" selecting this head's serial port, or empty.
  const std::string& ChannelPrefix() const { return channelPrefix_; }

 protected:
  enum class Delivery { kSent, kNotSent, kRefused };

  void HandleWorkItem(CWorkItem* item) final;
  void CancelRequests() override;
  // The outcome of one handled item; failures other than unsent requests are
  // logged here.
  virtual void ReportResult(const CResultDef& result);
  // One GET of the path with a text answer.
  virtual Delivery Transmit(const std::string& path);
  // How long a preset request waits for the commands posted before it.
  void SetPresetWait(uint32_t ms) { presetWaitMs_ = ms; }

 private:
  CResultDef HandleCommand(CWorkItem* item);
  CResultDef ProcessMoveCommand(CWorkItem* item);
  CResultDef ProcessFocusCommand(CWorkItem* item);
  CResultDef ProcessIrisCommand(CWorkItem* item);
  CResultDef ProcessStopCommand(CWorkItem* item);
  CResultDef SetManualFocus(IIPParams* params, bool manual);
  CResultDef SetManualIris(IIPParams* params, bool manual);
  CResultDef SendPTZCommandViaURL(const CPelcoDPtzCommand& command);
  bool SendPreset(uint8_t command, uint32_t slot);

  std::unique_ptr<Web::CHttpSender> http_;
  std::mutex sendMutex_;  // the worker and preset callers share one connection
  std::atomic<bool> closing_{false};
  std::string cgiName_;
  std::string channelPrefix_;
  bool vido_ = false;
  uint32_t presetWaitMs_ = 2000;

  // Worker thread only; they live as long as this object.
  uint8_t lastZoomSpeed_ = 0xFF;
  uint8_t lastFocusSpeed_ = 0xFF;
  bool autoIrisSent_ = false;
  bool autoFocusSent_ = false;
};

}  // namespace orbisan
