#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "ptz/base_ptz_comm.h"

namespace Web {
class CHttpSender;
}

namespace orbisan {

// PTZ for cameras that take commands as parameters of the encoder CGI
// ("MOVE=LEFT,3", "ZOOM=TELE,5", "PTZ_PRESET_GO=2"). Presets are sent at once
// on the caller's thread; everything else goes through the worker thread.
class CActiProtoPTZComm : public CBasePTZComm {
 public:
  CActiProtoPTZComm(IDriver* driver, uint16_t channel);
  ~CActiProtoPTZComm() override;

  std::pair<uint32_t, uint32_t> ConvertMoveSpeed(uint32_t direction, uint32_t speed) override;
  uint32_t ConvertFocusSpeed(uint32_t) override { return 0; }
  uint32_t ConvertIrisSpeed(uint32_t) override { return 0; }
  int32_t GetStatus(IIPParams*) override { return 1; }
  int32_t GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) override;

  bool SavePreposition(uint32_t slot, const std::wstring& name) override;
  bool GoToPreposition(uint32_t slot, const std::wstring& name, uint32_t value) override;
  bool RemovePreposition(uint32_t slot, const std::wstring& name) override;

  // The request path of one encoder command.
  static std::string CommandPath(const DEVICE_INFO& device, const std::string& command);

 protected:
  void HandleWorkItem(CWorkItem* item) override;
  void CancelRequests() override;
  // Sends one command; the worker thread and preset callers take turns, as
  // one HTTP connection serves both.
  bool SendCommand(const std::string& command);
  bool SendPresetCommand(const std::string& command);
  // How long a preset request waits for the commands posted before it.
  void SetPresetWait(uint32_t ms) { presetWaitMs_ = ms; }
  // One GET of the path with a non-empty answer required.
  virtual bool Transmit(const std::string& path);

 private:
  void SetFocusMode(IIPParams* params, bool manual);
  std::string AutoFocusCommand();

  std::unique_ptr<Web::CHttpSender> http_;
  std::mutex sendMutex_;
  std::atomic<bool> closing_{false};

  // Written by GetCapabilities on a host thread, read by the worker.
  std::mutex stateMutex_;
  bool focusModeControl_ = false;
  std::string autoFocusCommand_ = "FOCUS=AUTO";

  uint32_t lastMoveSpeed_ = 0;  // worker thread only
  uint32_t presetWaitMs_ = 2000;
};

}  // namespace orbisan
