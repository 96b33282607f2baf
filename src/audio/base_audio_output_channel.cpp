#include "audio/base_audio_output_channel.h"

namespace orbisan {

using namespace ipcapture;

bool AudioOutputTransitionAllowed(uint32_t from, uint32_t to) {
  switch (from) {
    case kAudioStopped:
      return to == kAudioStarting;
    case kAudioStarting:
      return to == kAudioRunning || to == kAudioStopping || to == kAudioFailed || to == kAudioBroken;
    case kAudioRunning:
      return to == kAudioStopping || to == kAudioFailed || to == kAudioBroken;
    case kAudioStopping:
      return to == kAudioStopped || to == kAudioFailed;
    case kAudioFailed:
      return to == kAudioStopped;
    case kAudioBroken:
      return to == kAudioStarting || to == kAudioStopping;
    default:
      return false;
  }
}

CBaseAudioOutputChannel::CBaseAudioOutputChannel(IDriver* driver, uint32_t channelId, uint32_t cameraChannel,
                                                 IAudioOutputObserver* observer, IAudioFormatList* formats)
    : CQueueThread<CAudioItem>(driver),
      driver_(driver),
      cameraChannel_(static_cast<uint16_t>(cameraChannel)),
      channelId_(channelId),
      observer_(observer),
      formats_(formats) {}

uint32_t CBaseAudioOutputChannel::GetState() {
  CAutoLock guard(stateLock_);
  return state_;
}

bool CBaseAudioOutputChannel::SetState(uint32_t state) {
  CAutoLock guard(stateLock_);
  if (!AudioOutputTransitionAllowed(state_, state)) return false;
  state_ = state;
  if (observer_ != nullptr) observer_->OnAudioOutputState(channelId_, state);
  return true;
}

bool CBaseAudioOutputChannel::Start() {
  if (!CQueueThread<CAudioItem>::Start("Base Audio Output Channel")) return false;
  {
    CAutoLock guard(stateLock_);
    if (state_ == kAudioStopped || state_ == kAudioBroken) SetState(kAudioStarting);
  }
  AddItem(new CAudioItem(CAudioItem::kConnect), 0);
  return true;
}

bool CBaseAudioOutputChannel::Stop() {
  StopEvent().Set();
  {
    CAutoLock guard(stateLock_);
    if (state_ == kAudioStarting || state_ == kAudioRunning || state_ == kAudioBroken) SetState(kAudioStopping);
  }
  const bool stopped = CQueueThread<CAudioItem>::Stop();
  if (CloseSession()) {
    CAutoLock guard(stateLock_);
    if (state_ == kAudioStopping || state_ == kAudioFailed) SetState(kAudioStopped);
  }
  return stopped;
}

bool CBaseAudioOutputChannel::GetParameters(IAudioParameters* parameters) {
  if (parameters == nullptr) return false;
  parameters->SetFourCC(kFourCC);
  parameters->SetSampleRate(kSampleRate);
  parameters->SetBitRate(kBitRate);
  parameters->SetStereo(false);
  return true;
}

bool CBaseAudioOutputChannel::Send(IAudioSample* buffer) {
  if (IsStopping() || buffer == nullptr) return false;
  const uint8_t* data = buffer->GetData();
  const uint32_t size = buffer->GetDataSize();
  if (data == nullptr || size == 0) return false;
  if (buffer->GetFourCC() != kFourCC || buffer->GetSampleRate() != kSampleRate || buffer->IsStereo() ||
      buffer->GetBitRate() != kBitRate) {
    return false;
  }
  // A newer buffer replaces one not yet sent; connect and refresh items stay,
  // or a buffer arriving before the first connect would cut the channel off.
  return AddItemReplacing(new CAudioDataItem(data, size),
                          [](const CAudioItem* queued) { return queued->type == CAudioItem::kData; });
}

bool CBaseAudioOutputChannel::HasFormat() {
  if (formats_ == nullptr) return false;
  const uint32_t count = formats_->GetCount();
  for (uint32_t i = 0; i < count; ++i) {
    IAudioFormat* format = formats_->GetFormat(i);
    if (format != nullptr && format->IsEnabled() && format->GetFourCC() == kFourCC) return true;
  }
  return false;
}

void CBaseAudioOutputChannel::Fail() {
  {
    CAutoLock guard(stateLock_);
    if (state_ == kAudioStarting || state_ == kAudioRunning) SetState(kAudioBroken);
  }
  AddItem(new CAudioItem(CAudioItem::kRefresh), 0);
}

bool CBaseAudioOutputChannel::Reconnect() {
  SetState(kAudioStarting);
  if (!CheckCamera()) {
    Fail();
    return false;
  }
  SetState(kAudioRunning);
  return true;
}

void CBaseAudioOutputChannel::HandleItem(CAudioItem* item) {
  if (IsStopping()) return;
  switch (item->type) {
    case CAudioItem::kConnect:
      if (!HasFormat()) {
        const uint32_t state = GetState();
        if (state == kAudioStarting || state == kAudioRunning || state == kAudioStopping) SetState(kAudioFailed);
        driver_->DebugMessage(
            kLogError, "%s: the host offers no enabled G.711 mu-law format for audio channel %u, device %s",
            "orbisan::CBaseAudioOutputChannel::HandleItem", channelId_, driver_->GetDeviceName().c_str());
        return;
      }
      if (CheckCamera()) {
        SetState(kAudioRunning);
      } else {
        Fail();
      }
      return;
    case CAudioItem::kData: {
      const auto& bytes = static_cast<CAudioDataItem*>(item)->bytes;
      const uint32_t state = GetState();
      if (state == kAudioBroken && !Reconnect()) return;
      if (state != kAudioRunning && state != kAudioBroken) return;
      if (!SendBuffer(bytes)) Fail();
      return;
    }
    case CAudioItem::kRefresh:
      if (GetState() != kAudioBroken) return;
      if (StopEvent().Wait(kRetryMs)) return;
      Reconnect();
      return;
  }
}

}  // namespace orbisan
