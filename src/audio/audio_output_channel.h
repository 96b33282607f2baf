#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/base_audio_output_channel.h"
#include "camera/http_sender.h"
#include "platform/abandonable_call.h"
#include "platform/kmpeg4_library.h"
#include "runtime/time_utils.h"

namespace orbisan {

// A camera's loudspeaker through the vendor library: the camera's audio
// setting is checked over HTTP, then a library session takes the buffers as
// 16-bit linear samples in blocks of at most 1024 bytes. Library calls run
// bounded: a session that hangs is abandoned (and closed once the library
// returns), never waited for.
class CAudioOutputChannel : public CBaseAudioOutputChannel {
 public:
  // library null: the process-wide vendor library, loaded at the first buffer.
  CAudioOutputChannel(IDriver* driver, uint32_t channelId, uint32_t cameraChannel,
                      ipcapture::IAudioOutputObserver* observer, ipcapture::IAudioFormatList* formats,
                      const KMpeg4Library* library = nullptr);
  ~CAudioOutputChannel() override;

  bool Start() override;
  bool Stop() override;

  static constexpr uint32_t kBlockBytes = 1024;

 protected:
  bool CheckCamera() override;
  bool SendBuffer(const std::vector<uint8_t>& muLaw) override;
  bool CloseSession() override;

 private:
  struct Session;
  bool AskCamera();
  const KMpeg4Library* Library();

  DEVICE_INFO deviceInfo_;
  Web::CHttpSender http_;
  const KMpeg4Library* library_;
  std::shared_ptr<Session> session_;
  CCallSlot calls_;  // one call left running at most
  bool reportedBusy_ = false;
  CTime lastCheck_;
};

}  // namespace orbisan
