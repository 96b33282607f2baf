#pragma once

#include <cstdint>
#include <string>

#include "device/device_info.h"

namespace orbisan {

class IDriver;

// Environment variable naming a configuration file to read instead of the
// one in the host directory (set by the reference host's --config option).
inline constexpr const char* kConfigurationPathVariable = "STRANDLINE_CONFIG";

struct RtpSettings {
  uint32_t rtpMode = 0;             // 0 RTP over UDP, 2 RTP inside the RTSP connection
  uint32_t rtpPacketSize = 0;       // 0 leaves the transport's own default
  uint32_t receiveBufferBytes = 0;  // UDP socket receive buffer; 0 leaves the receiver's default (4 MiB)
};

// Shortest time between two reboots of a device after its RTSP service
// stopped answering, and the default.
inline constexpr uint32_t kMinRebootHoldOffSeconds = 600;

struct ViewSettings {
  uint32_t streamMode = 0;    // 0 SINGLE .. 4 FISHEYE_VIEW
  uint32_t mountingType = 2;  // 1 CEILING, 2 WALL
};

// Where the driver's XML configuration lives: the STRANDLINE_CONFIG path
// when that variable is set and not empty, else the driver name with ".xml"
// in the host directory. Empty (no file) when the driver name is empty.
std::string ConfigurationFilePath(const std::string& driverName, const std::string& hostDirectory);
std::string ConfigurationFilePath(IDriver* driver);

// Per-installation stream settings of one device. Nothing is cached: every
// query reads the file again, so an edited file applies at the next stream
// start. Every failure gives the defaults.
class CConfiguration {
 public:
  CConfiguration(const std::string& driverName, const std::string& hostDirectory, const DEVICE_INFO& device);
  explicit CConfiguration(IDriver* driver);
  virtual ~CConfiguration() = default;

  RtpSettings GetRtpSettings() const;
  // 0 unicast, 1 multicast of the primary stream, 2 multicast.
  uint32_t GetStreamingMode() const;
  // Seconds a reboot after a failed DESCRIBE holds off the next one
  // (RebootHoldOffSeconds, never below kMinRebootHoldOffSeconds).
  uint32_t GetRebootHoldOffSeconds() const;

  const std::string& GetPath() const { return path_; }

 private:
  DEVICE_INFO device_;
  std::string path_;
};

// The first channel number used for PTZ; 1 unless configured.
uint32_t GetFirstPTZChannelID(const std::string& configPath, const DEVICE_INFO& device);
uint32_t GetFirstPTZChannelID(IDriver* driver);

ViewSettings GetViewSettings(const std::string& configPath, const DEVICE_INFO& device);
ViewSettings GetViewSettings(IDriver* driver);

}  // namespace orbisan
