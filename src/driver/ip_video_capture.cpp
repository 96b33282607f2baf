#include "driver/ip_video_capture.h"

#include <strings.h>

#include "edge/iedge_storage.h"
#include "io/imotion_channel.h"

namespace orbisan {

namespace {

bool IsEdgeStorageState(const char* name) { return name != nullptr && ::strcasecmp(name, "EdgeStorageState") == 0; }

}  // namespace

ICameraChannel*& CIPVideoCapture::Entry::Stream(uint32_t kind) {
  switch (kind) {
    case 0:
      return recording;
    case 1:
      return live;
    case 2:
      return remote;
    default:
      return kind3;
  }
}

CIPVideoCapture::CIPVideoCapture(IVideoChannelCreator* creator, uint32_t channelCount)
    : creator_(creator), inputs_(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
  for (uint32_t input = 0; input < inputs_.size(); ++input) StopCapture(input);
  // Kind-3 entries are never filled, but free one if it ever were.
  for (Entry& entry : inputs_) {
    if (entry.kind3 != nullptr) {
      entry.kind3->Stop();
      delete entry.kind3;
    }
  }
  edgeStorageHandler_.reset();
}

uint32_t CIPVideoCapture::GetChannelCount() { return static_cast<uint32_t>(inputs_.size()); }

STREAM_PARAMS CIPVideoCapture::BuildParams(ipcapture::IStreamRequest* request, uint32_t streamKind) {
  STREAM_PARAMS params;
  params.streamKind = streamKind;
  if (request == nullptr) return params;
  ipcapture::IStreamSettings* settings = request->GetStreamSettings();
  ipcapture::IVideoFormat* format = request->GetVideoFormat();
  if (settings != nullptr) {
    params.frameRate = settings->GetFrameRate();
    params.bitrate = settings->GetBitrate();
  }
  if (format != nullptr) {
    if (ipcapture::IFrameSize* size = format->GetFrameSize()) {
      params.width = size->GetWidth();
      params.height = size->GetHeight();
    }
    params.codec = format->GetCodec();
  }
  return params;
}

bool CIPVideoCapture::StartCapture(uint32_t input, ipcapture::IVideoFrameSink* sink,
                                   ipcapture::IStreamRequest* request) {
  if (input >= inputs_.size()) return false;
  StopCapture(input);
  if (edgeStorageEnabled_ && !edgeStorageHandler_) {
    edgeStorageHandler_.reset(creator_->CreateEdgeStorageHandler());
  }
  STREAM_PARAMS params = BuildParams(request, kStreamRecording);
  ICameraChannel* channel = creator_->CreateVideoChannel(input, sink, &params);
  if (channel == nullptr) return false;
  channel->SetPrivacyMask(request != nullptr ? request->GetPrivacyMask() : nullptr);
  bool ok = channel->Start(&params);
  IMotionChannel* motion = nullptr;
  ipcapture::IStreamSettings* settings = request != nullptr ? request->GetStreamSettings() : nullptr;
  if (ok && settings != nullptr && settings->IsMotionDetectionEnabled() != 0) {
    motion = creator_->CreateMotionChannel(input, sink);
    if (motion != nullptr) ok = motion->Start();
  }
  {
    CAutoLock guard(lock_);
    inputs_[input].recording = channel;
    inputs_[input].motion = motion;
  }
  if (edgeStorageEnabled_ && edgeStorageHandler_) {
    edgeStorageHandler_->RegisterChannel(channel);
    if (motion != nullptr) edgeStorageHandler_->RegisterChannel(motion);
  }
  return ok;
}

bool CIPVideoCapture::StopCapture(uint32_t input) {
  if (input >= inputs_.size()) return false;
  ICameraChannel* recording;
  ICameraChannel* live;
  ICameraChannel* remote;
  IMotionChannel* motion;
  {
    CAutoLock guard(lock_);
    Entry& entry = inputs_[input];
    recording = entry.recording;
    live = entry.live;
    remote = entry.remote;
    motion = entry.motion;
    entry.recording = entry.live = entry.remote = nullptr;
    entry.motion = nullptr;
  }
  if (edgeStorageHandler_) {
    edgeStorageHandler_->UnregisterChannel(motion);
    edgeStorageHandler_->UnregisterChannel(recording);
  }
  if (motion != nullptr) {
    motion->Stop();
    delete motion;
  }
  for (ICameraChannel* channel : {live, remote, recording}) {
    if (channel != nullptr) {
      channel->Stop();
      delete channel;
    }
  }
  if (recording != nullptr || live != nullptr || remote != nullptr) return true;
  return motion != nullptr;
}

ICameraChannel* CIPVideoCapture::RecordingChannel(uint32_t input) {
  if (input >= inputs_.size()) return nullptr;
  CAutoLock guard(lock_);
  return inputs_[input].recording;
}

bool CIPVideoCapture::ChangeFrameSize(uint32_t input, ipcapture::IFrameSize* size, uint32_t frameRate) {
  ICameraChannel* channel = RecordingChannel(input);
  if (channel == nullptr) return false;
  STREAM_PARAMS params;
  params.frameRate = frameRate;
  if (size != nullptr) {
    params.width = size->GetWidth();
    params.height = size->GetHeight();
  }
  return channel->Restart(&params);
}

bool CIPVideoCapture::GetStreamState(uint32_t input, uint32_t* state, uint32_t* reserved, uint8_t* reservedText,
                                     uint32_t reservedTextSize) {
  if (reserved != nullptr) *reserved = 0;
  if (reservedText != nullptr && reservedTextSize != 0) reservedText[0] = 0;
  ICameraChannel* channel = RecordingChannel(input);
  if (channel == nullptr) return false;
  const ChannelState current = channel->GetState();
  if (state != nullptr) *state = current == Stopped ? 2u : static_cast<uint32_t>(current);
  return true;
}

bool CIPVideoCapture::SetParameter(const char* name, const uint16_t* value, uint32_t size) {
  if (!IsEdgeStorageState(name) || value == nullptr || size != 2) return false;
  edgeStorageEnabled_ = *value > 0;
  return true;
}

bool CIPVideoCapture::GetParameter(const char* name, uint16_t* value, uint32_t size) {
  if (!IsEdgeStorageState(name) || value == nullptr || size != 2) return false;
  *value = edgeStorageEnabled_ ? 1 : 0;
  return true;
}

bool CIPVideoCapture::StopEdgeMonitoring(uint32_t input) {
  ICameraChannel* channel = RecordingChannel(input);
  return channel != nullptr && channel->StopEdgeMonitoring();
}

bool CIPVideoCapture::StartEdgeMonitoring(uint32_t input) {
  ICameraChannel* channel = RecordingChannel(input);
  return channel != nullptr && channel->StartEdgeMonitoring();
}

bool CIPVideoCapture::StartStream(uint32_t input, uint32_t streamKind, ipcapture::IVideoFrameSink* sink,
                                  ipcapture::IStreamRequest* request) {
  if (input >= inputs_.size() || streamKind > 2) return false;
  StopStream(input, streamKind);
  STREAM_PARAMS params = BuildParams(request, streamKind);
  ICameraChannel* channel = creator_->CreateVideoChannel(input, sink, &params);
  if (channel == nullptr) return false;
  const bool ok = channel->Start(&params);
  {
    CAutoLock guard(lock_);
    inputs_[input].Stream(streamKind) = channel;
  }
  return ok;
}

bool CIPVideoCapture::StopStream(uint32_t input, uint32_t streamKind) {
  if (input >= inputs_.size() || streamKind > 2) return false;
  ICameraChannel* channel;
  {
    CAutoLock guard(lock_);
    ICameraChannel*& slot = inputs_[input].Stream(streamKind);
    channel = slot;
    slot = nullptr;
  }
  if (channel == nullptr) return false;
  channel->Stop();
  delete channel;
  return true;
}

}  // namespace orbisan
