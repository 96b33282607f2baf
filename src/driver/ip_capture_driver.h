#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "device/idriver.h"
#include "driver/channel_creators.h"
#include "platform/host_version.h"
#include "strandline/capture_driver.h"
#include "strandline/capture_io.h"

namespace orbisan {

class CIPVideoCapture;
class CBasePTZHandler;
class CIPAudioCapture;
class CIPAudioSender;

// The generic driver object: holds the device record and host parameters,
// logs to the host, and owns every sub-object it creates.
class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx5,
                         public IDriver,
                         public IVideoChannelCreator,
                         public IAudioChannelCreator {
 public:
  CIPCaptureDriver();
  ~CIPCaptureDriver() override;

  // IIPCaptureDriverEx5
  bool Open(ipcapture::IDebugOutput* log, ipcapture::IMediaSampleAllocator* allocator,
            ipcapture::ICaptureSetup* setup) override;
  void Close() override;
  ipcapture::IIPVideoCapture* GetVideoCapture() override;
  ipcapture::ICaptureIOApi* GetDigitalIO() override;
  void* QueryReserved5() override { return nullptr; }
  ipcapture::IIPPTZDriver* GetPTZDriver() override;
  void* QueryReserved7() override { return nullptr; }
  ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
  ipcapture::IIPPTZDriverEx* GetPTZDriverEx() override;
  ipcapture::IIPAudioCapture2* GetAudioCapture() override;
  ipcapture::IIPAudioSender* GetAudioSender() override;
  ipcapture::IIPVideoCaptureEx2* GetVideoCaptureEx2() override;

  virtual bool CreateDigitalIO() = 0;
  virtual bool CreatePTZHandler() = 0;
  virtual void LogDriverOpened(const std::string& firmware);

  // IDebugMessage / IDriver
  std::string GetDeviceName() override;
  void DebugMessage(uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));
  std::string GetDriverName() override;
  std::string GetHostDirectory() override { return hostDirectory_; }
  DEVICE_INFO* GetDeviceInfo() override { return &deviceInfo_; }
  std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputCount_, outputCount_}; }
  ipcapture::IMediaSampleAllocator* GetSampleAllocator() override { return sampleAllocator_; }
  int32_t GetVideoStandard(uint32_t, uint32_t) override { return videoStandard_; }
  uint32_t GetDefaultCodec() override { return defaultCodec_; }
  uint32_t GetChannelCount() override { return channelCount_; }
  IEdgeStorageTask* GetEdgeStorageTask() override { return edgeStorageTask_; }
  std::string GetStringParameter(uint32_t id) override;
  int32_t GetIntParameter(uint32_t id) override;

  // IVideoChannelCreator
  ICameraChannel* CreateVideoChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink,
                                     STREAM_PARAMS* params) override;
  IMotionChannel* CreateMotionChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink) override;
  IEdgeStorageHandler* CreateEdgeStorageHandler() override;

  // IAudioChannelCreator
  IAudioInputChannel* CreateAudioCaptureChannel(uint32_t a, uint32_t b, void* c, void* d) override;
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t a, uint32_t b, void* c, void* d) override;

  // Level the host receives for a driver level, by host version; 0 when the
  // line is not forwarded at all.
  static uint32_t AdaptLevel(uint32_t level, const HostVersion& version);
  const HostVersion& GetHostVersion() const { return hostVersion_; }

 protected:
  // The channel class for a resolved codec code (null for unknown codes).
  ICameraChannel* CreateCodecChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink,
                                     const STREAM_PARAMS& params);

  std::map<uint32_t, std::string> parameters_;
  HostVersion hostVersion_{5, 12, 0, 0};
  std::string hostDirectory_;
  DEVICE_INFO deviceInfo_;
  uint32_t inputCount_ = 0;
  uint32_t outputCount_ = 0;
  uint32_t channelCount_ = 0;
  uint32_t defaultCodec_ = 0;
  int32_t videoStandard_ = 0;
  ipcapture::IDebugOutput* debugOutput_ = nullptr;
  ipcapture::IMediaSampleAllocator* sampleAllocator_ = nullptr;
  std::unique_ptr<CIPVideoCapture> videoCapture_;
  std::unique_ptr<ipcapture::ICaptureIOApi> digitalIO_;
  std::unique_ptr<CBasePTZHandler> ptzHandler_;
  std::unique_ptr<CIPAudioCapture> audioCapture_;
  std::unique_ptr<CIPAudioSender> audioSender_;
  IEdgeStorageTask* edgeStorageTask_ = nullptr;
};

}  // namespace orbisan
