#include "channels/base_rtp_channel.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cstring>

#include "device/configuration.h"

namespace orbisan {

namespace {

uint32_t ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return 0;
  uint32_t address = 0;
  for (addrinfo* it = result; it != nullptr; it = it->ai_next) {
    if (it->ai_family == AF_INET) {
      address = reinterpret_cast<sockaddr_in*>(it->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  ::freeaddrinfo(result);
  return address;
}

}  // namespace

CBaseRTPChannel::CBaseRTPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink)
    : CBaseCameraChannel(channelIndex, driver, sink), receiver_(this, driver), rtcp_(this, driver) {}

CBaseRTPChannel::~CBaseRTPChannel() { StopFromDestructor(); }

uint32_t CBaseRTPChannel::ThreadFunction() {
  SetState(Connecting);
  CConfiguration configuration(Driver());
  const RtpSettings rtp = configuration.GetRtpSettings();
  transportMode_ = rtp.rtpMode == 2 ? 2 : 0;
  blockSize_ = rtp.rtpPacketSize;
  receiver_.SetSocketReceiveBuffer(rtp.receiveBufferBytes);
  streamingMode_ = configuration.GetStreamingMode();
  AdjustStreamingMode(streamingMode_);
  if (streamingMode_ == 0) {
    RunUnicastLoop();
  } else {
    RunMulticastLoop();
  }
  return 0;
}

void CBaseRTPChannel::ReportOutageIfDue() {
  const uint32_t signalTimeout = Driver()->GetDeviceInfo()->signalTimeoutMs;
  if (outageReported_ || LastFrameTime().ElapsedMs() < signalTimeout) return;
  outageReported_ = true;
  NotifySignalLost();
  SetCameraState(false);
}

bool CBaseRTPChannel::ResolveCamera() {
  const std::string& host = Driver()->GetDeviceInfo()->address;
  cameraAddress_.store(ResolveIPv4(host));
  receiver_.SetSource(cameraAddress_.load());
  if (cameraAddress_.load() != 0) return true;
  ReportFailure(kFailureAddress, "the camera address \"" + host + "\" does not resolve to an IPv4 address");
  return false;
}

void CBaseRTPChannel::RestartLossCounter() {
  CAutoLock guard(packetLock_);
  loss_.Restart();
  jitter_.Restart();
  sequencer_.Reset();
  packetsSinceStart_ = false;
}

void CBaseRTPChannel::FillLossCounters(CHANNEL_STATISTICS& statistics) {
  // Without the packet lock: a frame sink that blocks holds it.
  statistics.rtpLost = loss_.LostPackets();
  statistics.framesDropped = loss_.DroppedFrames();
  statistics.rtpDuplicates = loss_.DuplicatePackets();
  statistics.rtpReordered = loss_.ReorderedPackets();
  if (const double jitter = jitter_.JitterMs(); jitter >= 0) statistics.jitterMs = jitter;
  int64_t offset = 0;
  if (rtcp_.CameraClockOffsetMs(offset)) statistics.cameraClockOffsetMs = offset;
}

void CBaseRTPChannel::HandlePacket(const CRTPPacket& packet) {
  packetReceived_.Set();
  packetsSinceStart_ = true;
  CAutoLock guard(packetLock_);
  const uint64_t nowUs = SteadyUs();  // one clock read per packet
  if (!CRtpSequencer::IsRtcp(packet)) jitter_.PacketArrived(packet.GetTimestamp(), nowUs);
  lastPacketMs_ = nowUs / 1000;
  sequencer_.Push(packet, lastPacketMs_, *this);
}

void CBaseRTPChannel::SequencedPacket(const CRTPPacket& packet, uint32_t lost) {
  rtcp_.CountPacket(packet.GetSequenceNumber());
  // A source or numbering that started anew is no loss of the old one.
  if (lost == kRestart) loss_.Restart();
  // A picture held for the packet after it is handed on before that packet
  // is counted, so that it counts as delivered in its own frame, whether its
  // wait or this packet ends it.
  if (loss_.BeginsFrame(packet.GetTimestamp())) FinishHeldFrame(UINT64_MAX);
  loss_.PacketHandled(packet.GetSequenceNumber(), packet.GetTimestamp());
  ProcessRtpPacket(packet);
}

uint32_t CBaseRTPChannel::FlushIdle() {
  CAutoLock guard(packetLock_);
  const uint64_t now = SteadyMs();
  const uint64_t reorderWait = sequencer_.Flush(now, *this);
  const uint64_t frameWait = FinishHeldFrame(now - lastPacketMs_);
  const uint64_t wait = reorderWait == 0 ? frameWait : frameWait == 0 ? reorderWait : std::min(reorderWait, frameWait);
  return static_cast<uint32_t>(std::min<uint64_t>(wait, 1000));
}

uint32_t CBaseRTPChannel::QueueIdle() { return FlushIdle(); }

void CBaseRTPChannel::ResetTimeStamps() {
  CAutoLock guard(packetLock_);
  timeStamps_.Reset();
}

void CBaseRTPChannel::RunUnicastLoop() {
  const DEVICE_INFO* info = Driver()->GetDeviceInfo();
  const uint32_t firstFrameWait = std::max(info->signalTimeoutMs / 2, info->connectTimeoutMs);
  LastFrameTime().Touch();
  periodicTimer_.Touch();
  uint32_t waitMs = 1000;
  CEvent* firstFrame[2] = {&StopEvent(), &frameDelivered_};
  for (;;) {
    if (GetState() != Streaming) {
      StopSession();
      frameDelivered_.Reset();
      ResetTimeStamps();
      if (!PrepareSession() || !ConfigureStream() || !StartSession()) {
        StopSession();
        waitMs = 1000;
      } else {
        if (MonitorOnly()) {
          SetState(Streaming);
          SetCameraState(true);
        }
        const int32_t which = CEvent::WaitForAny(firstFrame, 2, firstFrameWait);
        if (which == 1) {
          SetState(Streaming);
        } else if (which < 0) {
          FirstFrameMissing(firstFrameWait);
          waitMs = 10;  // no first frame: try again at once
        }
      }
    } else if (periodicTimer_.ElapsedMs() >= periodicIntervalMs_) {
      PeriodicHook();
      periodicTimer_.Touch();
    }
    const bool stopping = StopEvent().Wait(waitMs);
    waitMs = 1000;
    if (stopping) break;
    if (IsAlive()) continue;
    SetState(SignalLost);
    ReportOutageIfDue();
  }
  StopSession();
  if (!MonitorOnly()) SetCameraState(false);
}

bool CBaseRTPChannel::StartMulticastTransport(const std::string& group, uint16_t port) {
  if (!receiver_.StartMulticast(group, port)) return false;
  if (!rtcp_.StartMulticast(cameraAddress_.load(), group, static_cast<uint16_t>(port + 1))) {
    receiver_.Stop();
    return false;
  }
  return true;
}

void CBaseRTPChannel::RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) {
  if (source.sin_addr.s_addr != cameraAddress_.load()) return;
  HandlePacket(packet);
}

bool CBaseRTPChannel::FrameReady(ipcapture::IMediaSample* frame) {
  frameDelivered_.Set();
  if (!SendFrameCallback(frame)) return false;
  {
    CAutoLock guard(packetLock_);
    loss_.FrameDelivered();
  }
  LastFrameTime().Touch();
  outageReported_ = false;
  EndOutage();
  SetCameraState(true);
  return true;
}

std::pair<uint32_t, uint32_t> CBaseRTPChannel::GetDefaultResolution() { return {Params().width, Params().height}; }

std::string CBaseRTPChannel::GetStreamName() { return StreamName(Driver()->GetDriverName(), Params().streamKind); }

void CBaseRTPChannel::ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME& time) {
  CAutoLock guard(packetLock_);
  timeStamps_.Convert(rtpTimestamp);
  timeStamps_.GetTime(time);
}

ipcapture::IMediaSampleAllocator* CBaseRTPChannel::GetSampleAllocator() {
  return Driver() ? Driver()->GetSampleAllocator() : nullptr;
}

}  // namespace orbisan
