#include "audio/audio_output_channel.h"

#include <algorithm>

#include "audio/mulaw.h"
#include "camera/h_utils.h"
#include "platform/abandonable_call.h"
#include "platform/kmpeg4_media_config.h"

namespace orbisan {

// A library session with what its calls need, shared with a call that may
// outlive the wait for it.
struct CAudioOutputChannel::Session {
  const KMpeg4Library* lib = nullptr;
  KHandle handle = nullptr;
  uint8_t token[kKAudioTokenSize] = {};
  bool open = false;

  void Close() {
    if (handle == nullptr) return;
    if (open) lib->KFreeAudioToken(handle, token);
    lib->KCloseInterface(handle);
    handle = nullptr;
    open = false;
  }
};

CAudioOutputChannel::CAudioOutputChannel(IDriver* driver, uint32_t channelId, uint32_t cameraChannel,
                                         ipcapture::IAudioOutputObserver* observer,
                                         ipcapture::IAudioFormatList* formats, const KMpeg4Library* library)
    : CBaseAudioOutputChannel(driver, channelId, cameraChannel, observer, formats),
      deviceInfo_(*driver->GetDeviceInfo()),
      http_(deviceInfo_),
      library_(library) {}

CAudioOutputChannel::~CAudioOutputChannel() {
  http_.Shutdown();
  // The base Stop reports state changes to the host, which a destructor must not do.
  CQueueThread<CAudioItem>::Stop();  // NOLINT(bugprone-parent-virtual-call)
  CloseSession();
}

bool CAudioOutputChannel::Start() {
  http_.Resume();
  return CBaseAudioOutputChannel::Start();
}

bool CAudioOutputChannel::Stop() {
  http_.Shutdown();  // a check under way ends now
  return CBaseAudioOutputChannel::Stop();
}

bool CAudioOutputChannel::AskCamera() {
  std::string answer;
  if (!HUtils::RequestGet(http_, "/cgi-bin/system?" + deviceInfo_.GetLoginQuery() + "&V2_AUDIO_ENABLED", answer)) {
    return false;
  }
  if (answer.find("ERROR") != std::string::npos) return false;
  lastCheck_.Touch();
  return true;
}

bool CAudioOutputChannel::CheckCamera() {
  if (AskCamera()) return true;
  Driver()->DebugMessage(kLogWarning, "%s: the camera does not take audio on channel %u; retrying in %u ms, device %s",
                         "orbisan::CAudioOutputChannel::CheckCamera", ChannelId(), kRetryMs,
                         Driver()->GetDeviceName().c_str());
  return false;
}

const KMpeg4Library* CAudioOutputChannel::Library() {
  if (library_ != nullptr) return library_;
  std::string error;
  library_ = LoadKMpeg4Library(Driver()->GetHostDirectory(), error);
  if (library_ == nullptr) {
    Driver()->DebugMessage(kLogError, "%s: %s; the loudspeaker cannot be reached, device %s",
                           "orbisan::CAudioOutputChannel::SendBuffer", error.c_str(),
                           Driver()->GetDeviceName().c_str());
  }
  return library_;
}

bool CAudioOutputChannel::SendBuffer(const std::vector<uint8_t>& muLaw) {
  // Only the answer's arrival counts here, not what it says.
  if (lastCheck_.ElapsedMs() > deviceInfo_.signalTimeoutMs) {
    std::string answer;
    if (!HUtils::RequestGet(http_, "/cgi-bin/system?" + deviceInfo_.GetLoginQuery() + "&V2_AUDIO_ENABLED", answer)) {
      return false;
    }
    lastCheck_.Touch();
  }
  const KMpeg4Library* lib = Library();
  if (lib == nullptr) return false;
  if (calls_.Busy()) {
    // A new session would cost one more thread, handle and socket for as
    // long as the camera stalls; wait for the one left running.
    if (!reportedBusy_) {
      reportedBusy_ = true;
      Driver()->DebugMessage(kLogWarning,
                             "%s: the vendor library has not yet returned from the call left running; no new audio "
                             "session until it has, device %s",
                             "orbisan::CAudioOutputChannel::SendBuffer", Driver()->GetDeviceName().c_str());
    }
    return false;
  }
  reportedBusy_ = false;

  KMediaConfigFields fields;
  fields.input = CameraChannel();
  fields.address = deviceInfo_.address;
  fields.user = deviceInfo_.user;
  fields.password = deviceInfo_.password;
  fields.httpPort = deviceInfo_.port;
  KMediaConfig record;
  std::string tooLong;
  if (!BuildKMediaConfig(fields, record, tooLong)) {
    Driver()->DebugMessage(kLogError, "%s: the %s does not fit the vendor library's record, device %s",
                           "orbisan::CAudioOutputChannel::SendBuffer", tooLong.c_str(),
                           Driver()->GetDeviceName().c_str());
    return false;
  }
  if (!session_) {
    session_ = std::make_shared<Session>();
    session_->lib = lib;
  }
  auto samples = std::make_shared<std::vector<uint8_t>>(muLaw.size() * 2);
  ExpandMuLaw(muLaw.data(), muLaw.size(), samples->data());
  auto session = session_;
  auto sent = std::make_shared<bool>(false);
  auto job = [session, samples, record, sent] {
    if (!session->open) {
      if (session->handle == nullptr) session->handle = session->lib->KOpenInterface();
      if (session->handle == nullptr) return;
      std::fill(std::begin(session->token), std::end(session->token), 0);
      session->open = session->lib->KSetMediaConfig(session->handle, record.data()) != 0 &&
                      session->lib->KGetAudioToken(session->handle, session->token) != 0;
      if (!session->open) return;
    }
    for (size_t at = 0; at < samples->size(); at += kBlockBytes) {
      const uint32_t length = static_cast<uint32_t>(std::min<size_t>(kBlockBytes, samples->size() - at));
      if (session->lib->KSendAudio(session->handle, samples->data() + at, length) == 0) return;
    }
    *sent = true;
  };
  // A second of audio and the session's opening: the library gets twice the
  // connect time-out on top of the buffer's own length.
  const uint32_t bound = 2 * deviceInfo_.connectTimeoutMs + static_cast<uint32_t>(muLaw.size() / 8) * 2;
  const auto outcome = calls_.Run(
      job, [session] { session->Close(); }, &StopEvent(), bound);
  if (outcome != CAbandonableCall::kDone) {
    session_.reset();  // closed by the call once the library returns
    if (outcome == CAbandonableCall::kTimedOut) {
      Driver()->DebugMessage(kLogWarning, "%s: the vendor library did not take the audio within %u ms, device %s",
                             "orbisan::CAudioOutputChannel::SendBuffer", bound, Driver()->GetDeviceName().c_str());
    }
    return false;
  }
  if (*sent) return true;
  CloseSession();
  return false;
}

bool CAudioOutputChannel::CloseSession() {
  std::shared_ptr<Session> session = std::move(session_);
  if (!session || session->handle == nullptr) return true;
  const uint32_t bound = deviceInfo_.connectTimeoutMs;
  if (calls_.Run([session] { session->Close(); }, nullptr, nullptr, bound) == CAbandonableCall::kDone) {
    return true;
  }
  Driver()->DebugMessage(kLogWarning, "%s: the vendor library did not close the audio session within %u ms, device %s",
                         "orbisan::CAudioOutputChannel::CloseSession", bound, Driver()->GetDeviceName().c_str());
  return false;
}

}  // namespace orbisan
