#include "driver/ip_video_capture.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "channels/host_callback_scope.h"
#include "driver/stream_statistics_text.h"
#include "edge/iedge_storage.h"
#include "io/imotion_channel.h"

namespace orbisan {

namespace {

bool IsEdgeStorageState(const char* name) { return name != nullptr && ::strcasecmp(name, "EdgeStorageState") == 0; }

constexpr const char* kStatisticsName = "StreamStatistics:";

// "StreamStatistics:<input>" or "StreamStatistics:<input>:<kind>".
bool ParseStatisticsName(const char* name, uint32_t& input, uint32_t& kind) {
  if (name == nullptr || ::strncasecmp(name, kStatisticsName, std::strlen(kStatisticsName)) != 0) return false;
  unsigned parsedInput = 0;
  unsigned parsedKind = 0;
  char rest = 0;
  const char* numbers = name + std::strlen(kStatisticsName);
  const int fields = std::sscanf(numbers, "%u:%u%c", &parsedInput, &parsedKind, &rest);
  if (fields == 1) {
    if (std::sscanf(numbers, "%u%c", &parsedInput, &rest) != 1) return false;
    parsedKind = 0;
  } else if (fields != 2) {
    return false;
  }
  input = parsedInput;
  kind = parsedKind;
  return true;
}

}  // namespace

CIPVideoCapture::ChannelRef& CIPVideoCapture::Entry::Stream(uint32_t kind) {
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
  for (Entry& entry : inputs_) StopAndRelease(entry.kind3);
  // Stops deferred from host callbacks end here at the latest.
  reaper_.Stop();
  edgeStorageHandler_.reset();
}

CIPVideoCapture::DeferredStop::~DeferredStop() {
  for (ChannelRef& channel : channels) StopAndRelease(channel);
  if (motion != nullptr) {
    motion->Stop();
    delete motion;
  }
}

void CIPVideoCapture::DeferStop(std::vector<ChannelRef> channels, IMotionChannel* motion) {
  auto* item = new DeferredStop;
  for (ChannelRef& channel : channels) {
    if (!channel) continue;
    channel->RequestStop();
    item->channels.push_back(std::move(channel));
  }
  if (motion != nullptr) motion->RequestStop();
  item->motion = motion;
  CAutoLock guard(reaperLock_);
  reaper_.AddItem(item, 0);
  // Should the thread not start, the item waits for the destructor.
  if (!reaper_.IsRunning()) reaper_.Start("Video capture stop");
}

void CIPVideoCapture::StopAndRelease(ChannelRef& channel) {
  if (!channel) return;
  channel->Stop();
  channel.reset();  // deletes it unless a query still holds it
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
  const bool edgeStorage = edgeStorageEnabled_.load();
  IEdgeStorageHandler* handler = nullptr;
  if (edgeStorage) {
    // Host threads may start several inputs at once: one handler for all.
    CAutoLock guard(lock_);
    if (!edgeStorageHandler_) edgeStorageHandler_.reset(creator_->CreateEdgeStorageHandler());
    handler = edgeStorageHandler_.get();
  }
  STREAM_PARAMS params = BuildParams(request, kStreamRecording);
  ChannelRef channel(creator_->CreateVideoChannel(input, sink, &params));
  if (!channel) return false;
  channel->SetPrivacyMask(request != nullptr ? request->GetPrivacyMask() : nullptr);
  bool ok = channel->Start(&params);
  IMotionChannel* motion = nullptr;
  ipcapture::IStreamSettings* settings = request != nullptr ? request->GetStreamSettings() : nullptr;
  if (ok && settings != nullptr && settings->IsMotionDetectionEnabled() != 0) {
    motion = creator_->CreateMotionChannel(input, sink);
    if (motion != nullptr) ok = motion->Start();
  }
  // Registered before the table shows them, so a stop on another thread
  // always finds them registered.
  if (handler != nullptr) {
    handler->RegisterChannel(channel.get());
    if (motion != nullptr) handler->RegisterChannel(motion);
  }
  ChannelRef replaced;
  IMotionChannel* replacedMotion;
  {
    CAutoLock guard(lock_);
    replaced = std::move(inputs_[input].recording);
    replacedMotion = inputs_[input].motion;
    inputs_[input].recording = std::move(channel);
    inputs_[input].motion = motion;
  }
  // Another host thread started the same input meanwhile: its channels are
  // stopped here rather than left running without an owner.
  if (replaced || replacedMotion != nullptr) {
    if (IEdgeStorageHandler* current = EdgeStorageHandler()) {
      current->UnregisterChannel(replacedMotion);
      current->UnregisterChannel(replaced.get());
    }
    if (replacedMotion != nullptr) {
      replacedMotion->Stop();
      delete replacedMotion;
    }
    StopAndRelease(replaced);
  }
  return ok;
}

IEdgeStorageHandler* CIPVideoCapture::EdgeStorageHandler() {
  CAutoLock guard(lock_);
  return edgeStorageHandler_.get();
}

bool CIPVideoCapture::StopCapture(uint32_t input) {
  if (input >= inputs_.size()) return false;
  ChannelRef recording;
  ChannelRef live;
  ChannelRef remote;
  IMotionChannel* motion;
  {
    CAutoLock guard(lock_);
    Entry& entry = inputs_[input];
    recording = std::move(entry.recording);
    live = std::move(entry.live);
    remote = std::move(entry.remote);
    motion = entry.motion;
    entry.motion = nullptr;
  }
  if (IEdgeStorageHandler* handler = EdgeStorageHandler()) {
    handler->UnregisterChannel(motion);
    handler->UnregisterChannel(recording.get());
  }
  const bool any = recording || live || remote || motion != nullptr;
  if (CHostCallbackScope::Active()) {
    DeferStop({std::move(recording), std::move(live), std::move(remote)}, motion);
    return any;
  }
  if (motion != nullptr) {
    motion->Stop();
    delete motion;
  }
  StopAndRelease(live);
  StopAndRelease(remote);
  StopAndRelease(recording);
  return any;
}

CIPVideoCapture::ChannelRef CIPVideoCapture::RecordingChannel(uint32_t input) {
  if (input >= inputs_.size()) return nullptr;
  CAutoLock guard(lock_);
  return inputs_[input].recording;
}

bool CIPVideoCapture::ChangeFrameSize(uint32_t input, ipcapture::IFrameSize* size, uint32_t frameRate) {
  ChannelRef channel = RecordingChannel(input);
  if (!channel) return false;
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
  ChannelRef channel = RecordingChannel(input);
  if (!channel) return false;
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
  uint32_t input = 0;
  uint32_t kind = 0;
  if (ParseStatisticsName(name, input, kind)) return GetStatisticsText(input, kind, value, size);
  if (!IsEdgeStorageState(name) || value == nullptr || size != 2) return false;
  *value = edgeStorageEnabled_ ? 1 : 0;
  return true;
}

bool CIPVideoCapture::GetStatisticsText(uint32_t input, uint32_t kind, uint16_t* value, uint32_t size) {
  if (input >= inputs_.size() || kind > 2 || value == nullptr || size < 2) return false;
  ChannelRef channel;
  {
    CAutoLock guard(lock_);
    channel = inputs_[input].Stream(kind);
  }
  if (!channel) return false;
  const std::string text = StreamStatisticsText(channel->GetStatistics());
  // UTF-16 units as the host's texts are; the driver's own texts are ASCII.
  const size_t units = std::min<size_t>(text.size(), size / 2 - 1);
  for (size_t i = 0; i < units; ++i) value[i] = static_cast<unsigned char>(text[i]);
  value[units] = 0;
  return true;
}

bool CIPVideoCapture::StopEdgeMonitoring(uint32_t input) {
  ChannelRef channel = RecordingChannel(input);
  return channel && channel->StopEdgeMonitoring();
}

bool CIPVideoCapture::StartEdgeMonitoring(uint32_t input) {
  ChannelRef channel = RecordingChannel(input);
  return channel && channel->StartEdgeMonitoring();
}

bool CIPVideoCapture::StartStream(uint32_t input, uint32_t streamKind, ipcapture::IVideoFrameSink* sink,
                                  ipcapture::IStreamRequest* request) {
  if (input >= inputs_.size() || streamKind > 2) return false;
  StopStream(input, streamKind);
  STREAM_PARAMS params = BuildParams(request, streamKind);
  ChannelRef channel(creator_->CreateVideoChannel(input, sink, &params));
  if (!channel) return false;
  const bool ok = channel->Start(&params);
  ChannelRef replaced;
  {
    CAutoLock guard(lock_);
    ChannelRef& slot = inputs_[input].Stream(streamKind);
    replaced = std::move(slot);
    slot = std::move(channel);
  }
  // A stream of this kind started by another host thread meanwhile.
  StopAndRelease(replaced);
  return ok;
}

bool CIPVideoCapture::StopStream(uint32_t input, uint32_t streamKind) {
  if (input >= inputs_.size() || streamKind > 2) return false;
  ChannelRef channel;
  {
    CAutoLock guard(lock_);
    channel = std::move(inputs_[input].Stream(streamKind));
  }
  if (!channel) return false;
  if (CHostCallbackScope::Active()) {
    DeferStop({std::move(channel)}, nullptr);
  } else {
    StopAndRelease(channel);
  }
  return true;
}

}  // namespace orbisan
