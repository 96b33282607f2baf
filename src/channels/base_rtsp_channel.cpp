#include "channels/base_rtsp_channel.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "channels/device_session_params.h"
#include "rtsp/h264_rtp_media_parser.h"
#include "rtsp/h264_sps_parser.h"
#include "rtsp/jpeg_rtp_media_parser.h"
#include "rtsp/mpeg4_rtp_media_parser.h"
#include "rtsp/rtp_port_choice.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

CBaseRTSPChannel::CBaseRTSPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink)
    : CBaseRTPChannel(channelIndex, driver, sink), CLoggerInstance(driver), client_(driver) {}

CBaseRTSPChannel::~CBaseRTSPChannel() {
  StopFromDestructor();
  // The capture thread normally ends the session itself; if it could not
  // (it ended by an exception), no network thread may call into this object
  // once its parts are gone.
  CBaseRTSPChannel::StopSession();
  ClosePortPair();
}

RTSP_SESSION_PARAMS CBaseRTSPChannel::BaseSessionParams(uint16_t rtpPort, uint16_t rtcpPort) {
  RTSP_SESSION_PARAMS params = DeviceSessionParams(*Driver()->GetDeviceInfo(), rtpPort, rtcpPort);
  params.blockSize = blockSize_;
  return params;
}

bool CBaseRTSPChannel::PrepareSession() {
  if (transportMode_ != 0) return true;
  const uint32_t address = cameraAddress_.load();
  if (!ResolveCamera()) {
    ClosePortPair();
    return false;
  }
  // A pair kept from an attempt that nothing came to has been watched ever
  // since it was taken; one for a camera that moved is not kept.
  if (receiver_.GetPort() != 0 && rtcp_.GetPort() != 0 && address == cameraAddress_.load()) return true;
  ClosePortPair();
  // No wait here: the pair is watched while the CGI set-up and DESCRIBE go
  // on, and given up in SdpInfoReceived if the camera already sends to it.
  return ChooseRtpPortPair(receiver_, rtcp_, cameraAddress_.load(), StopEvent(), packetReceived_, 0);
}

bool CBaseRTSPChannel::StartSession() {
  uint16_t rtpPort = 0;
  uint16_t rtcpPort = 0;
  if (transportMode_ == 0) {
    if (receiver_.GetPort() == 0 && !PrepareSession()) return false;
    rtpPort = receiver_.GetPort();
    rtcpPort = rtcp_.GetPort();
  }
  RTSP_SESSION_PARAMS params = BaseSessionParams(rtpPort, rtcpPort);
  FillSessionParams(params);
  if (IsStopRequested()) return false;
  described_ = false;
  failureTold_ = false;
  RestartLossCounter();
  return client_.Start(params, this, transportMode_);
}

bool CBaseRTSPChannel::StartMulticastSession() {
  if (!ResolveCamera()) return false;
  RTSP_SESSION_PARAMS params = BaseSessionParams(0, 0);
  FillSessionParams(params);
  sessionClosed_.Reset();
  if (IsStopRequested()) return false;
  described_ = false;
  failureTold_ = false;
  RestartLossCounter();
  return client_.StartMulticast(params, this);
}

void CBaseRTSPChannel::StopSession() {
  sessionStopping_ = true;
  client_.Stop();
  sessionStopping_ = false;
  // While the camera is away every attempt ends here, most before SETUP: a
  // unicast pair on which nothing arrived stays for the next attempt rather
  // than four socket and queue threads being made and ended each time (each
  // new thread may take another malloc arena and leave pages in it).
  const bool quiet = transportMode_ == 0 && StreamingMode() == 0 && !packetReceived_.IsSet() && !rtcp_.IsReporting();
  if (!quiet || IsStopRequested()) ClosePortPair();
}

void CBaseRTSPChannel::ClosePortPair() {
  receiver_.Stop();
  rtcp_.Stop();
}

void CBaseRTSPChannel::LogFailure(uint32_t level, const std::string& text) { LogMessage(level, "%s", text.c_str()); }

void CBaseRTSPChannel::FillLossCounters(CHANNEL_STATISTICS& statistics) {
  CBaseRTPChannel::FillLossCounters(statistics);
  // Interleaved, the sender reports come on the RTSP connection.
  int64_t offset = 0;
  if (!statistics.cameraClockOffsetMs && client_.CameraClockOffsetMs(offset)) statistics.cameraClockOffsetMs = offset;
}

void CBaseRTSPChannel::SessionFailed(uint32_t kind, uint32_t status, int error, const std::string& problem) {
  if (IsStopRequested() || sessionStopping_) return;
  failureTold_ = true;
  const DEVICE_INFO* info = Driver()->GetDeviceInfo();
  const std::string where = client_.GetBaseUrl();
  static const char* const kMethods[] = {"connect", "DESCRIBE", "SETUP", "PLAY"};
  const char* method = kind < 4 ? kMethods[kind] : "request";
  if (kind == kRtspConnect) {
    char text[128];  // strerror's own buffer is shared by every thread
    const std::string why = error == ECONNREFUSED ? std::string("connection refused")
                            : error == ETIMEDOUT  ? Format("connection timed out after %u ms", info->connectTimeoutMs)
                                                  : std::string(strerror_r(error, text, sizeof text));
    ReportFailure(kFailureRtspConnection, Format("RTSP connection to %s failed: %s", where.c_str(), why.c_str()));
  } else if (status == 401) {
    ReportFailure(kFailureRtspCredentials,
                  Format("the camera refused the user name or password over RTSP (%s answered 401)", method));
  } else if (!problem.empty()) {
    // A redirect not followed, or an answer that could not be used: the
    // status alone (often 200) would not say what went wrong.
    const bool whole = problem.rfind("the camera", 0) == 0;
    ReportFailure(
        kFailureRtspStatus,
        whole ? problem : Format("the %s answer from %s cannot be used: %s", method, where.c_str(), problem.c_str()));
  } else if (status != 0) {
    const std::string url = kind == kRtspSetup ? client_.GetTrackUrl() : where;
    ReportFailure(kFailureRtspStatus, Format("%s refused: %u for %s", method, status, url.c_str()));
  } else {
    ReportFailure(kFailureRtspStatus, Format("RTSP %s got no usable answer from %s within %u ms", method, where.c_str(),
                                             info->connectTimeoutMs));
  }
}

void CBaseRTSPChannel::FirstFrameMissing(uint32_t waitedMs) {
  if (!described_ || failureTold_ || IsStopRequested()) return;
  ReportFailure(kFailureNoRtp, PacketsSinceStart()
                                   ? Format("RTP packets arrived but no whole frame within %u ms after PLAY", waitedMs)
                                   : Format("no RTP packets arrived within %u ms after PLAY", waitedMs));
}

bool CBaseRTSPChannel::IsAlive() {
  if (MonitorOnly()) return client_.GetLastExchangeResult();
  const uint32_t half = Driver()->GetDeviceInfo()->signalTimeoutMs / 2;
  return LastFrameTime().ElapsedMs() < half && client_.GetLastExchangeResult();
}

void CBaseRTSPChannel::RunMulticastLoop() {
  const DEVICE_INFO* info = Driver()->GetDeviceInfo();
  const uint32_t half = info->signalTimeoutMs / 2;
  LastFrameTime().Touch();
  uint32_t waitMs = 10;
  CEvent* firstFrame[3] = {&StopEvent(), &frameDelivered_, &sessionClosed_};
  for (;;) {
    if (StopEvent().Wait(waitMs)) {
      StopSession();
      SetState(Stopped);
      SetCameraState(false);
      return;
    }
    waitMs = 1000;
    if (GetState() == Streaming) {
      const bool bye = byeReceived_.IsSet();
      if (LastFrameTime().ElapsedMs() < half && !bye) continue;
      SetState(SignalLost);
      waitMs = bye ? 1000 : 10;
      if (bye) {
        Driver()->DebugMessage(kLogInfo,
                               "The camera ended the multicast stream (RTCP BYE); setting it up again, device %s",
                               Driver()->GetDeviceName().c_str());
      }
    }
    if (GetState() == SignalLost) ReportOutageIfDue();
    StopSession();
    frameDelivered_.Reset();
    byeReceived_.Reset();
    if (!ConfigureStream()) {
      StopSession();
      waitMs = 1000;
      continue;
    }
    if (!StartMulticastSession()) {
      waitMs = 1000;
      continue;
    }
    const int32_t which = CEvent::WaitForAny(firstFrame, 3, half);
    if (which == 1) {
      SetState(Streaming);
    } else if (which < 0) {
      FirstFrameMissing(half);
      waitMs = 10;
      if (GetState() != SignalLost) SetState(SignalLost);
    }
  }
}

bool CBaseRTSPChannel::SdpInfoReceived(const SDP_SESSION_INFO& info) {
  const char* method = "orbisan::CBaseRTSPChannel::SdpInfoReceived";
  const std::string device = Driver()->GetDeviceName();
  const bool multicast = StreamingMode() != 0;
  if (multicast) {
    if (info.video.connectionAddress.empty()) {
      LogMessage(kLogError,
                 "%s: RTSP response doesn't contain connection data section. RTP multicast stream cannot be "
                 "started for device %s",
                 method, device.c_str());
      return false;
    }
    if (info.video.port == 0) {
      LogMessage(kLogError,
                 "%s: RTSP response doesn't contain correct streaming port in media section. RTP multicast stream "
                 "cannot be started for device %s",
                 method, device.c_str());
      return false;
    }
  }
  described_ = true;
  if (!multicast && transportMode_ == 0 && packetReceived_.IsSet() && !MoveToQuietPortPair()) return false;
  if (!info.video.present) {
    failureTold_ = true;
    ReportFailure(kFailureRtspStatus, "the description has no usable video section");
    return false;
  }
  const std::string encoding = ToLower(info.video.encoding);
  CRTPMediaParser* parser = nullptr;
  std::vector<uint8_t> sps = info.sps;
  std::vector<uint8_t> pps = info.pps;
  if (encoding.empty() || StartsWith(encoding, "jpeg")) {
    parser = new CJpegRTPMediaParser(Driver());
  } else if (StartsWith(encoding, "h264")) {
    parser = new CH264RTPMediaParser(Driver());
    uint32_t width = 0;
    uint32_t height = 0;
    if (!sps.empty() && !CH264SpsParser().Parse(sps.data(), sps.size(), width, height)) {
      // The stream brings its own sets before each key frame.
      LogMessage(kLogWarning,
                 "%s: The description's H.264 parameter sets do not read; the stream's own are used, device %s", method,
                 device.c_str());
      sps.clear();
      pps.clear();
    }
  } else if (StartsWith(encoding, "mpeg4") || StartsWith(encoding, "mp4v")) {
    parser = new CMpeg4RTPMediaParser(Driver());
  } else {
    LogMessage(kLogError, "%s: Unable to handle RTP video data from device %s - unexpected payload type \"%s\"", method,
               device.c_str(), info.video.encoding.c_str());
    failureTold_ = true;
    ReportFailure(kFailureRtspStatus,
                  "the description's video encoding \"" + info.video.encoding + "\" is not H.264, MPEG-4 or JPEG");
  }
  {
    CAutoLock guard(packetLock_);
    parser_.Reset(parser);
    if (parser == nullptr) return false;
    parser->SetClient(this);
    parser->SetSdpParameters(sps, pps, info.config, info.width, info.height);
  }
  if (multicast && StartMulticastTransport(info.video.connectionAddress, info.video.port)) ResetLog();
  if (!multicast) ResetLog();
  return true;
}

bool CBaseRTSPChannel::MoveToQuietPortPair() {
  // The camera's packets came before SETUP: a stream of an earlier session
  // still arrives on this pair. The next pair must prove quiet.
  const uint16_t busy = receiver_.GetPort();
  LogMessage(kLogWarning, "%s: RTP port %u already receives a stream from device %s; choosing another",
             "orbisan::CBaseRTSPChannel::SdpInfoReceived", static_cast<unsigned>(busy),
             Driver()->GetDeviceName().c_str());
  receiver_.Stop();
  rtcp_.Stop();
  if (!ChooseRtpPortPair(receiver_, rtcp_, cameraAddress_.load(), StopEvent(), packetReceived_, kVideoPortQuietMs,
                         static_cast<uint16_t>(busy + 2))) {
    ReportFailure(kFailureNoRtp, Format("no quiet RTP port pair above %u for the camera's stream", busy));
    return false;
  }
  client_.SetClientPorts(receiver_.GetPort(), rtcp_.GetPort());
  RestartLossCounter();
  return true;
}

void CBaseRTSPChannel::RtpPacketReceived(const CRTPPacket& packet) { HandlePacket(packet); }

void CBaseRTSPChannel::ProcessRtpPacket(const CRTPPacket& packet) {
  CAutoLock guard(packetLock_);
  if (parser_) parser_->ProcessPacket(packet);
}

uint32_t CBaseRTSPChannel::FinishHeldFrame(uint64_t idleMs) {
  CAutoLock guard(packetLock_);
  return parser_ ? parser_->FinishHeld(idleMs) : 0;
}

bool CBaseRTSPChannel::StartEdgeMonitoring() {
  if (MonitorOnly()) return false;
  SetMonitorOnly(true);
  client_.RequestPause();
  return true;
}

bool CBaseRTSPChannel::StopEdgeMonitoring() {
  if (!MonitorOnly()) return false;
  if (GetState() == Streaming) LastFrameTime().Touch();
  {
    CAutoLock guard(packetLock_);
    if (parser_) parser_->Reset();
  }
  client_.RequestPlay();
  SetMonitorOnly(false);
  return true;
}

}  // namespace orbisan
