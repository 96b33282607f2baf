#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/idriver.h"
#include "ptz/base_ptz_comm.h"
#include "ptz/ip_params.h"
#include "ptz/preposition_list.h"
#include "strandline/ptz.h"

namespace orbisan {

// What the host steers one PTZ channel through: commands go to the channel's
// command object, presets to its preset list. Stop stops only what was
// started through this control.
class CBasePTZControl : public ipcapture::IIPPTZApiEx, public IIPParams {
 public:
  CBasePTZControl(IDriver* driver, uint32_t channel, bool storage);
  ~CBasePTZControl() override;

  // IIPPTZApi
  int32_t GetStatus() override;
  int32_t Move(uint32_t direction, uint32_t speed) override;
  int32_t Stop() override;
  int32_t Center(uint32_t a, uint32_t b, uint32_t c) override;
  int32_t ZoomIn(uint32_t speed) override;
  int32_t ZoomOut(uint32_t speed) override;
  int32_t Unzoom(uint32_t a) override;
  int32_t AreaZoom(uint32_t a, uint32_t b, uint32_t c, uint32_t d) override;
  int32_t FocusNear(uint32_t speed) override;
  int32_t FocusFar(uint32_t speed) override;
  int32_t IrisOpen(uint32_t speed) override;
  int32_t IrisClose(uint32_t speed) override;
  int32_t GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) override;
  int32_t GetPresetCount() override;
  int32_t GetPresetName(uint32_t index, char* buffer, uint32_t size) override;
  int32_t GoToPreset(uint32_t value, const char* name) override;
  int32_t AddPreset(const char* name) override;
  int32_t RemovePreset(const char* name) override;
  int32_t GetCurrentPresetName(char* buffer, uint32_t size) override;
  // IIPPTZApiEx
  bool QueryOption(uint32_t option) override { return option != 0; }

  // IIPParams
  uint32_t GetChannel() override { return channel_; }
  bool GetManualIris() override { return manualIris_; }
  bool SetManualIris(bool manual) override { return manualIris_ = manual; }
  bool GetManualFocus() override { return manualFocus_; }
  bool SetManualFocus(bool manual) override { return manualFocus_ = manual; }

  // Lets the commands already posted reach the camera (bounded), then stops
  // the worker and drops the command object.
  virtual void Close();
  virtual CBasePTZComm* CreatePTZComm() = 0;
  virtual bool OpenWithStorage(const TSmartPtr<CXMLPrepositionReader>& store);
  virtual bool Open();

  CBasePTZComm* Comm() const { return comm_.get(); }

 protected:
  IDriver* Driver() const { return driver_; }

 private:
  // Common tail of the command operations.
  int32_t Finish(int32_t result, std::atomic<bool>* flag);
  bool OpenComm();

  IDriver* driver_;
  uint32_t channel_;
  std::unique_ptr<CBasePTZComm> comm_;
  CPrepositionList presets_;
  std::atomic<bool> manualIris_{false};
  std::atomic<bool> manualFocus_{false};
  std::atomic<bool> zooming_{false};
  std::atomic<bool> focusing_{false};
  std::atomic<bool> irisChanging_{false};
  std::atomic<bool> moving_{false};
};

}  // namespace orbisan
