#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "device/idriver.h"
#include "ptz/base_ptz_control.h"
#include "ptz/xml_preposition_reader.h"
#include "runtime/smart_ptr.h"
#include "strandline/ptz.h"

namespace orbisan {

// The device's PTZ side as the host sees it: one control per PTZ channel,
// made and opened on first request, and the camera's preset file.
class CBasePTZHandler : public ipcapture::IIPPTZDriverEx {
 public:
  CBasePTZHandler(IDriver* driver, uint32_t channelCount, std::string rootName);
  ~CBasePTZHandler() override;

  ipcapture::IIPPTZApi* GetPTZApi(uint32_t channel) override { return GetPTZApiEx(channel); }
  // Safe from several host threads: each channel gets one control.
  ipcapture::IIPPTZApi* GetPTZApiEx(uint32_t channel) override;

  virtual bool GenerateXMLStorageFileName(std::string& fileName) = 0;
  virtual CBasePTZControl* CreatePTZControl(uint32_t channel, bool storage) = 0;
  virtual void ReleaseControls();
  virtual bool InitializeXMLStorage();

 protected:
  IDriver* Driver() const { return driver_; }
  const std::string& FileNamePattern() const { return fileNamePattern_; }

 private:
  IDriver* driver_;
  std::mutex controlsMutex_;
  std::map<uint32_t, std::unique_ptr<CBasePTZControl>> controls_;
  uint32_t channelCount_;
  TSmartPtr<CXMLPrepositionReader> store_;
  std::string fileNamePattern_;
  std::string rootName_;
};

}  // namespace orbisan
