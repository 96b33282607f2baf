#include "audio/base_audio_rtsp_channel.h"

#include <exception>

#include "channels/device_session_params.h"
#include "device/configuration.h"

namespace orbisan {

namespace {

// Sessions that fail at once (a camera that closes every session) are not
// started again faster than this.
constexpr uint32_t kMinAttemptGapMs = 2000;

}  // namespace

CBaseAudioRTSPChannel::CBaseAudioRTSPChannel(IDriver* driver, uint32_t cameraChannel, uint32_t channelId,
                                             ipcapture::IAudioInputSink* sink, void* hostValue)
    : CBaseRTPDataChannel(driver),
      CBaseAudioCaptureChannel(driver, cameraChannel, channelId, sink, hostValue),
      CLoggerInstance(driver),
      client_(driver) {}

CBaseAudioRTSPChannel::~CBaseAudioRTSPChannel() {
  StopThread(2 * Driver()->GetDeviceInfo()->connectTimeoutMs);
  client_.Stop();
  StopTransport();
}

bool CBaseAudioRTSPChannel::Start() { return StartThread("Audio RTSP Channel"); }

bool CBaseAudioRTSPChannel::Stop() {
  SetState(ipcapture::kAudioStopping);
  StopEvent().Set();
  client_.Stop();
  StopThread(2 * Driver()->GetDeviceInfo()->connectTimeoutMs);
  return true;
}

uint32_t CBaseAudioRTSPChannel::ThreadFunction() {
  try {
    CConfiguration configuration(Driver());
    multicast_ = configuration.GetStreamingMode() != 0;
    rtpMode_ = configuration.GetRtpSettings().rtpMode == kRtpInterleaved ? kRtpInterleaved : kRtpOverUdp;
    if (multicast_) {
      RunMulticastLoop();
    } else {
      RunUnicastLoop();
    }
  } catch (const std::exception&) {
    Driver()->DebugMessage(kLogError, "%s: Unhandled exception in driver instance for device %s",
                           "orbisan::CBaseAudioRTSPChannel::ThreadFunction", Driver()->GetDeviceName().c_str());
    Finish();
  }
  return 0;
}

RTSP_SESSION_PARAMS CBaseAudioRTSPChannel::SessionParams(uint16_t rtpPort, uint16_t rtcpPort) {
  RTSP_SESSION_PARAMS params = DeviceSessionParams(*Driver()->GetDeviceInfo(), rtpPort, rtcpPort);
  params.mediaKind = 2;
  FillSessionParams(params);
  return params;
}

void CBaseAudioRTSPChannel::TearDown() {
  client_.Stop();
  StopTransport();
}

bool CBaseAudioRTSPChannel::BeginSession() {
  TearDown();
  sessionClosed_.Reset();
  playing_.Reset();
  {
    CAutoLock guard(packetLock_);
    ResetParser();
  }
  LastFrameTime().Touch();
  SetState(ipcapture::kAudioStarting);
  if (CameraCheck()) return true;
  SetState(ipcapture::kAudioBroken);
  return false;
}

bool CBaseAudioRTSPChannel::StartUnicastSession() {
  if (!BeginSession()) return false;
  bool started = ResolveCamera(Driver()->GetDeviceInfo()->address);
  uint16_t rtpPort = 0;
  uint16_t rtcpPort = 0;
  if (started && rtpMode_ == kRtpOverUdp) {
    started = StartUnicastTransport(StopEvent());
    rtpPort = RtpPort();
    rtcpPort = RtcpPort();
  }
  started = started && !IsStopping() && client_.Start(SessionParams(rtpPort, rtcpPort), this, rtpMode_);
  if (started && !IsStopping()) {
    SetState(ipcapture::kAudioRunning);
    return true;
  }
  SetState(ipcapture::kAudioBroken);
  return false;
}

void CBaseAudioRTSPChannel::RunUnicastLoop() {
  const uint32_t timeoutMs = Driver()->GetDeviceInfo()->connectTimeoutMs;
  StartUnicastSession();
  while (!StopEvent().Wait(kLoopPassMs)) {
    if (LastFrameTime().ElapsedMs() < timeoutMs) continue;
    SetState(ipcapture::kAudioBroken);
    SetDeviceState(false);
    StartUnicastSession();
  }
  Finish();
}

bool CBaseAudioRTSPChannel::StartMulticastSession() {
  if (!BeginSession()) return false;
  if (!ResolveCamera(Driver()->GetDeviceInfo()->address) || IsStopping() ||
      !client_.StartMulticast(SessionParams(0, 0), this)) {
    SetState(ipcapture::kAudioBroken);
    return false;
  }
  CEvent* events[3] = {&StopEvent(), &playing_, &sessionClosed_};
  return CEvent::WaitForAny(events, 3, Driver()->GetDeviceInfo()->connectTimeoutMs) == 1;
}

void CBaseAudioRTSPChannel::RunMulticastLoop() {
  const uint32_t timeoutMs = Driver()->GetDeviceInfo()->connectTimeoutMs;
  CTime attempt;
  bool connected = StartMulticastSession();
  while (!StopEvent().Wait(connected ? kLoopPassMs : 20)) {
    if (LastFrameTime().ElapsedMs() <= timeoutMs && !sessionClosed_.IsSet()) continue;
    if (attempt.ElapsedMs() < kMinAttemptGapMs) continue;
    SetState(ipcapture::kAudioBroken);
    SetDeviceState(false);
    attempt.Touch();
    connected = StartMulticastSession();
  }
  Finish();
}

void CBaseAudioRTSPChannel::Finish() {
  TearDown();
  SetState(ipcapture::kAudioStopped);
  SetDeviceState(false);
}

void CBaseAudioRTSPChannel::DataPacketArrived(const CRTPPacket& packet) {
  // The first packet shows the session plays.
  if (!playing_.IsSet()) {
    playing_.Set();
    SetState(ipcapture::kAudioRunning);
  }
  CAutoLock guard(packetLock_);
  ProcessPacket(packet);
}

}  // namespace orbisan
