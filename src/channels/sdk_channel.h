#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "camera/http_sender.h"
#include "channels/base_camera_channel.h"
#include "channels/mpeg4_block_assembler.h"
#include "platform/abandonable_call.h"
#include "platform/kmpeg4_library.h"

namespace orbisan {

// MPEG-4 through the camera vendor's streaming library: the camera's encoder
// is set up over CGI, the library delivers elementary-stream blocks through a
// callback on its own thread, and the channel turns them into samples. Every
// call into the library runs bounded, so a library that hangs never holds a
// stop or a reconnect.
class CSDKChannel : public CBaseCameraChannel {
 public:
  // library null: the process-wide vendor library, loaded on first connect.
  CSDKChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink,
              const KMpeg4Library* library = nullptr);
  ~CSDKChannel() override;

  void SetPrivacyMask(ipcapture::IPrivacyZoneList*) override {}
  std::string GetStreamName();

  // The library's callback; context is the connection's key, not a pointer.
  static void OnRawData(void* context, uint32_t dataType, const uint8_t* data, uint32_t length);

  // Ports A, B, C of the connection record when the device names none.
  static void DefaultPorts(uint32_t channelIndex, uint32_t channelCount, uint32_t ports[3]);

 protected:
  uint32_t ThreadFunction() override;
  void OnStopThread() override;
  void OnStartThread() override;

 private:
  bool Connect();
  bool ConfigureCamera();
  const KMpeg4Library* Library();
  void TearDown();
  void HandleBlock(const uint8_t* data, uint32_t length);
  void DeliverFrame();

  const KMpeg4Library* library_;
  std::atomic<KHandle> libraryHandle_{nullptr};
  std::atomic<uintptr_t> connectionKey_{0};
  DEVICE_INFO deviceInfo_;
  Web::CHttpSender http_;
  CMpeg4BlockAssembler assembler_;
  CCallSlot calls_;  // connect and close; one left running at most
  bool reportedBusy_ = false;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

}  // namespace orbisan
