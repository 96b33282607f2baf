#include "rtsp/rtp_media_parser.h"

#include <cstring>

#include "rtsp/resolution_class.h"

namespace orbisan {

CRTPMediaParser::CRTPMediaParser(IDebugMessage* driver) : driver_(driver) {}

void CRTPMediaParser::SetSdpParameters(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                       const std::vector<uint8_t>& config, uint32_t width, uint32_t height) {
  sps_ = sps;
  pps_ = pps;
  config_ = config;
  width_ = width;
  height_ = height;
  sdpWidth_ = width;
  sdpHeight_ = height;
}

void CRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
  try {
    if (!CheckSequence(packet)) SequenceBroken(packet);
    const uint8_t* payload = packet.GetPayload();
    ProcessPayload(packet, payload, payload ? packet.GetPayloadLength() : 0);
  } catch (...) {
    try {
      Reset();
    } catch (...) {
    }
  }
}

bool CRTPMediaParser::CheckSequence(const CRTPPacket& packet) {
  const uint16_t sequence = packet.GetSequenceNumber();
  const bool follows = firstPacket_ || sequence == static_cast<uint16_t>(lastSequence_ + 1);
  firstPacket_ = false;
  lastSequence_ = sequence;
  return follows;
}

bool CRTPMediaParser::EndsUnmarkedFrame(const CRTPPacket& packet) {
  if (packet.GetMarker()) sawMarker_ = true;
  if (!frame_.empty()) return !sawMarker_ && packet.GetTimestamp() != frameTimestamp_;
  frameTimestamp_ = packet.GetTimestamp();
  return false;
}

bool CRTPMediaParser::UnmarkedFrameDue(uint64_t idleMs, uint32_t& waitMs) const {
  waitMs = 0;
  if (sawMarker_ || frame_.empty()) return false;
  if (idleMs >= kUnmarkedWaitMs) return true;
  waitMs = static_cast<uint32_t>(kUnmarkedWaitMs - idleMs);
  return false;
}

bool CRTPMediaParser::CheckBufferSize() {
  if (frame_.size() <= kMaxFrameSize) return true;
  if (driver_) {
    driver_->DebugMessage(kLogError, "%s: Frame buffer overflow detected, device %s",
                          "orbisan::CRTPMediaParser::CheckBufferSize", driver_->GetDeviceName().c_str());
  }
  Reset();
  return false;
}

std::pair<uint32_t, uint32_t> CRTPMediaParser::DefaultResolution() {
  if (!client_) return {0, 0};
  return client_->GetDefaultResolution();
}

bool CRTPMediaParser::CopyFrame(ipcapture::IMediaSampleAllocator* allocator, ipcapture::IMediaSample* sample,
                                const char* method) {
  uint8_t* buffer = sample->GetBuffer();
  if (buffer == nullptr || sample->GetSize() < frame_.size()) {
    driver_->DebugMessage(kLogError, "%s: Data copying error, device %s", method, driver_->GetDeviceName().c_str());
    Reset();
    allocator->ReleaseSample(sample);
    return false;
  }
  std::memcpy(buffer, frame_.data(), frame_.size());
  return true;
}

ipcapture::IMediaSample* CRTPMediaParser::CreateFrameSample(ipcapture::IMediaSampleAllocator* allocator,
                                                            uint32_t fourcc, uint32_t size) {
  ipcapture::IMediaSample* sample =
      allocator ? allocator->CreateSample(fourcc, size, client_->GetStreamName().c_str()) : nullptr;
  if (!sample) Reset();
  return sample;
}

void CRTPMediaParser::StampSample(ipcapture::IMediaSample* sample, uint32_t rtpTimestamp, uint32_t size,
                                  uint32_t fourcc) {
  SYSTEMTIME time{};
  client_->ConvertTimestamp(rtpTimestamp, time);
  sample->SetWidth(width_);
  sample->SetHeight(height_);
  sample->SetResolutionClass(ResolutionClass(width_, height_));
  sample->SetDataSize(size);
  sample->SetFourCC(fourcc);
  sample->SetTime(&time);
}

void CRTPMediaParser::DeliverSample(ipcapture::IMediaSampleAllocator* allocator, ipcapture::IMediaSample* sample) {
  bool accepted = false;
  try {
    accepted = client_->FrameReady(sample);
  } catch (...) {
    allocator->ReleaseSample(sample);
    throw;
  }
  if (!accepted) Reset();
  allocator->ReleaseSample(sample);
}

}  // namespace orbisan
