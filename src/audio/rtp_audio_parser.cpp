#include "audio/rtp_audio_parser.h"

#include "runtime/time_utils.h"

namespace orbisan {

CBaseRTPAudioParser::CBaseRTPAudioParser(IDriver* driver, uint8_t channelId, const AUDIO_FORMAT& format,
                                         IAudioFrameReceiver* receiver)
    : driver_(driver), channelId_(channelId), format_(format), receiver_(receiver) {}

void CBaseRTPAudioParser::Reset() {
  first_ = true;
  buffer_.clear();
}

void CBaseRTPAudioParser::ProcessPacket(const CRTPPacket& packet) {
  const uint16_t sequence = packet.GetSequenceNumber();
  if (!first_ && sequence != static_cast<uint16_t>(lastSequence_ + 1)) buffer_.clear();
  first_ = false;
  lastSequence_ = sequence;
  if (packet.GetPayloadLength() < 2) return;
  buffer_.insert(buffer_.end(), packet.GetPayload(), packet.GetPayload() + packet.GetPayloadLength());
  if (buffer_.size() < format_.sampleRate) return;
  ProcessAudioFrame();
  buffer_.clear();
}

void CBaseRTPAudioParser::ProcessAudioFrame() {
  ipcapture::IMediaSampleAllocator* allocator = driver_->GetSampleAllocator();
  const auto size = static_cast<uint32_t>(buffer_.size());
  ipcapture::IAudioSample* sample =
      allocator ? allocator->CreateAudioSample(format_.fourcc, size, driver_->GetDriverName().c_str()) : nullptr;
  if (sample == nullptr) {
    driver_->DebugMessage(kLogError, "%s: Unable to allocate  memory for audio frame!",
                          "orbisan::CBaseRTPAudioParser::ProcessAudioFrame");
    return;
  }
  sample->SetFourCC(format_.fourcc);
  sample->SetData(buffer_.data(), size);
  sample->SetFormat(format_.sampleRate, format_.bitsPerSample, format_.stereo);
  sample->SetBitRate(format_.bitRate);
  sample->SetChannelId(channelId_);
  SYSTEMTIME now;
  FileTimeToSystemTimeUtc(NowFileTime(), now);
  sample->SetTime(&now);
  if (receiver_ == nullptr || !receiver_->AudioFrameReady(sample)) {
    const DEVICE_INFO* info = driver_->GetDeviceInfo();
    driver_->DebugMessage(kLogError, "%s: Audio-frame processing error, camera %s:%u",
                          "orbisan::CBaseRTPAudioParser::ProcessAudioFrame", info->address.c_str(),
                          static_cast<unsigned>(info->port));
    Reset();
  }
  allocator->ReleaseAudioSample(sample);
}

}  // namespace orbisan
