#pragma once

#include <cstdint>

namespace orbisan::ipcapture {

// Host objects describing the device to open. Slots marked "not called" keep
// the table layout; the driver never calls them.

class IUnitInfo {
 public:
  virtual ~IUnitInfo() = default;
  virtual const char* GetName() = 0;  // not called
  virtual const char* GetModel() = 0;
  virtual uint32_t GetChannelCount() = 0;
  virtual uint32_t GetUnitType() = 0;  // not called
  virtual uint32_t GetInputCount() = 0;
  virtual uint32_t GetOutputCount() = 0;
};

class IConnectionInfo {
 public:
  virtual ~IConnectionInfo() = default;
  virtual const char* GetAddress() = 0;
  virtual uint16_t GetPort() = 0;
  virtual uint32_t GetProtocol() = 0;  // not called
  virtual uint32_t GetDefaultCodec() = 0;
  virtual const char* GetUserName() = 0;
  virtual const char* GetPassword() = 0;
};

class ICaptureSetup {
 public:
  virtual ~ICaptureSetup() = default;
  virtual IUnitInfo* GetUnitInfo() = 0;
  virtual IConnectionInfo* GetConnectionInfo() = 0;
  virtual uint32_t GetParameterCount() = 0;  // not called
  // Null when the index has no parameter.
  virtual const char* GetParameter(uint32_t index) = 0;
};

}  // namespace orbisan::ipcapture
