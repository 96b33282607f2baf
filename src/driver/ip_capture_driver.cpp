#include "driver/ip_capture_driver.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>

#include "audio/audio_capabilities.h"
#include "audio/audio_capture_channel.h"
#include "audio/audio_output_channel.h"
#include "audio/ip_audio_capture.h"
#include "audio/ip_audio_sender.h"
#include "camera/h_utils_text.h"
#include "device/host_parameter.h"
#include "driver/ip_video_capture.h"
#include "edge/base_edge_storage_handler.h"
#include "edge/edge_storage_task.h"
#include "io/motion_channel.h"
#include "platform/host_directory.h"
#include "ptz/base_ptz_handler.h"
#include "runtime/debug_info.h"
#include "runtime/format.h"

namespace orbisan {

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() { CIPCaptureDriver::Close(); }

bool CIPCaptureDriver::Open(ipcapture::IDebugOutput* log, ipcapture::IMediaSampleAllocator* allocator,
                            ipcapture::ICaptureSetup* setup) {
  if (setup == nullptr) return false;
  ipcapture::IConnectionInfo* connection = setup->GetConnectionInfo();
  ipcapture::IUnitInfo* unit = setup->GetUnitInfo();
  if (connection == nullptr || unit == nullptr) return false;

  defaultCodec_ = connection->GetDefaultCodec();
  inputCount_ = unit->GetInputCount();
  outputCount_ = unit->GetOutputCount();
  channelCount_ = unit->GetChannelCount();
  auto text = [](const char* s) { return std::string(s ? s : ""); };
  deviceInfo_.address = text(connection->GetAddress());
  deviceInfo_.port = connection->GetPort();
  deviceInfo_.user = text(connection->GetUserName());
  deviceInfo_.password = text(connection->GetPassword());
  deviceInfo_.model = text(unit->GetModel());
  // Parameters are dense from 1; the first missing index ends them.
  for (uint32_t index = 1;; ++index) {
    const char* value = setup->GetParameter(index);
    if (value == nullptr) break;
    parameters_[index] = value;
  }

  debugOutput_ = log;
  sampleAllocator_ = allocator;
  hostDirectory_ = HostDirectory();
  hostVersion_ = ReadHostVersion();

  if (!videoCapture_) {
    videoCapture_ = std::make_unique<CIPVideoCapture>(this, unit->GetChannelCount());
  }
  if (!CreateDigitalIO() || !CreatePTZHandler()) return false;

  const char* audioIn = setup->GetParameter(kParamAudioInput);
  const char* audioOut = setup->GetParameter(kParamAudioOutput);
  if (audioIn == nullptr && audioOut == nullptr) return true;
  CAudioCapabilities input;
  CAudioCapabilities output;
  input.FromText(audioIn);
  output.FromText(audioOut);
  if (input.Count() != 0 && !audioCapture_) audioCapture_ = std::make_unique<CIPAudioCapture>(this, input.Count());
  if (output.Count() != 0 && !audioSender_) audioSender_ = std::make_unique<CIPAudioSender>(this, output.Count());
  return audioCapture_ != nullptr || audioSender_ != nullptr;
}

void CIPCaptureDriver::Close() {
  videoCapture_.reset();
  digitalIO_.reset();
  ptzHandler_.reset();
  audioCapture_.reset();
  audioSender_.reset();
  if (edgeStorageTask_ != nullptr) {
    edgeStorageTask_->Abort();
    delete edgeStorageTask_;
    edgeStorageTask_ = nullptr;
  }
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return videoCapture_.get(); }
ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() { return videoCapture_.get(); }
ipcapture::IIPVideoCaptureEx2* CIPCaptureDriver::GetVideoCaptureEx2() { return videoCapture_.get(); }
ipcapture::ICaptureIOApi* CIPCaptureDriver::GetDigitalIO() { return digitalIO_.get(); }
ipcapture::IIPPTZDriver* CIPCaptureDriver::GetPTZDriver() { return ptzHandler_.get(); }
ipcapture::IIPPTZDriverEx* CIPCaptureDriver::GetPTZDriverEx() { return ptzHandler_.get(); }
ipcapture::IIPAudioCapture2* CIPCaptureDriver::GetAudioCapture() { return audioCapture_.get(); }
ipcapture::IIPAudioSender* CIPCaptureDriver::GetAudioSender() { return audioSender_.get(); }

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware) {
  const std::string name = GetDriverName();
  if (name.empty() || deviceInfo_.model.empty()) return;
  std::string line = Format("DRIVER IS OPENED (name: %s, device model: %s", name.c_str(), deviceInfo_.model.c_str());
  if (!firmware.empty()) line += ", FW: " + firmware;
  line += Format(", address: %s:%u)", deviceInfo_.address.c_str(), static_cast<unsigned>(deviceInfo_.port));
  DebugMessage(kLogDriverOpened, "%s", line.c_str());
}

std::string CIPCaptureDriver::GetDeviceName() { return deviceInfo_.address + Format(":%hu", deviceInfo_.port); }

std::string CIPCaptureDriver::GetDriverName() { return "Strandline"; }

uint32_t CIPCaptureDriver::AdaptLevel(uint32_t level, const HostVersion& version) {
  if (level == kLogTrace) return 0;
  const uint16_t major = version[0];
  const uint16_t minor = version[1];
  if (major < 5 || (major == 5 && minor < 12)) {
    if (level == kLogInfo || level == kLogDriverOpened) level = kLogWarning;
  } else if (major == 5 || (major == 6 && minor < 3)) {
    if (level == kLogDriverOpened) level = kLogInfo;
  }
  return level & 0xFFu;
}

void CIPCaptureDriver::DebugMessage(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  if (level == kLogTrace) return;
  const uint32_t adapted = AdaptLevel(level, hostVersion_);
  if (debugOutput_ == nullptr) return;
  CDebugInfo info(static_cast<uint8_t>(adapted), text);
  debugOutput_->Output(&info);
}

std::string CIPCaptureDriver::GetStringParameter(uint32_t id) {
  auto it = parameters_.find(id);
  if (it == parameters_.end() || it->second == "(none)") return {};
  return it->second;
}

int32_t CIPCaptureDriver::GetIntParameter(uint32_t id) {
  auto it = parameters_.find(id);
  int value = 0;
  if (it == parameters_.end() || !HUtils::ParseInt(it->second, value)) return kNoIntParameter;
  // The lowest number stands for "no parameter", so a number held there stops just above it.
  return value == kNoIntParameter ? kNoIntParameter + 1 : value;
}

ICameraChannel* CIPCaptureDriver::CreateVideoChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink,
                                                     STREAM_PARAMS* params) {
  if (sink == nullptr || params == nullptr) return nullptr;
  if (params->codec == 0 || params->codec == 5) params->codec = defaultCodec_;
  return CreateCodecChannel(channelIndex, sink, *params);
}

IMotionChannel* CIPCaptureDriver::CreateMotionChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink) {
  // Motion frames go to the sink; without one there is nobody to tell.
  if (sink == nullptr) return nullptr;
  return new CMotionChannel(channelIndex, this, sink);
}

IEdgeStorageHandler* CIPCaptureDriver::CreateEdgeStorageHandler() {
  auto* handler = new (std::nothrow) CBaseEdgeStorageHandler(this, channelCount_ * 10);
  if (handler == nullptr) return nullptr;
  // One task per driver object; it serves the handler made last.
  if (edgeStorageTask_ == nullptr) edgeStorageTask_ = new (std::nothrow) CEdgeStorageTask(this);
  if (edgeStorageTask_ != nullptr) edgeStorageTask_->SetHandler(handler);
  return handler;
}

IAudioInputChannel* CIPCaptureDriver::CreateAudioCaptureChannel(uint32_t a, uint32_t b, void* c, void* d) {
  return new CAudioCaptureChannel(this, b, a, static_cast<ipcapture::IAudioInputSink*>(c), d);
}

IAudioOutputChannel* CIPCaptureDriver::CreateAudioOutputChannel(uint32_t a, uint32_t b, void* c, void* d) {
  return new CAudioOutputChannel(this, a, b, static_cast<ipcapture::IAudioOutputObserver*>(c),
                                 static_cast<ipcapture::IAudioFormatList*>(d));
}

}  // namespace orbisan
