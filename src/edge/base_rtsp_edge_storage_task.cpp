#include "edge/base_rtsp_edge_storage_task.h"

#include <algorithm>
#include <cstdint>

#include "channels/device_session_params.h"
#include "device/configuration.h"
#include "platform/socket_utils.h"
#include "rtsp/h264_rtp_media_parser.h"
#include "rtsp/jpeg_rtp_media_parser.h"
#include "rtsp/mpeg4_rtp_media_parser.h"
#include "rtsp/rtp_port_choice.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

CBaseRTSPEdgeStorageTask::CBaseRTSPEdgeStorageTask(IDriver* driver)
    : CBaseEdgeStorageTask(driver), client_(driver), receiver_(this, driver), rtcp_(this, driver) {
  const RtpSettings rtp = CConfiguration(driver).GetRtpSettings();
  rtpMode_ = rtp.rtpMode == kRtpInterleaved ? kRtpInterleaved : kRtpOverUdp;
  rtpPacketSize_ = rtp.rtpPacketSize;
  receiver_.SetSocketReceiveBuffer(rtp.receiveBufferBytes);
}

CBaseRTSPEdgeStorageTask::~CBaseRTSPEdgeStorageTask() {
  Abort();
  CBaseRTSPEdgeStorageTask::StopSession();
}

std::string CBaseRTSPEdgeStorageTask::PlaybackPath(uint64_t position) {
  SYSTEMTIME utc{};
  FileTimeToSystemTimeUtc(position, utc);
  return Format("/playback/datetime=%.4u.%.2u.%.2u.%.2hu.%.2hu.%.2hu", static_cast<unsigned>(utc.wYear),
                static_cast<unsigned>(utc.wMonth), static_cast<unsigned>(utc.wDay), utc.wHour, utc.wMinute,
                utc.wSecond);
}

bool CBaseRTSPEdgeStorageTask::StartSession(uint64_t position) {
  const DEVICE_INFO* info = Driver()->GetDeviceInfo();
  in_addr address{};
  if (!ResolveIPv4(info->address, address)) return false;
  cameraAddress_ = address.s_addr;
  receiver_.SetSource(address.s_addr);
  uint16_t rtpPort = 0;
  uint16_t rtcpPort = 0;
  if (rtpMode_ != kRtpInterleaved) {
    packetReceived_.Reset();
    if (!ChooseRtpPortPair(receiver_, rtcp_, address.s_addr, StopEvent(), packetReceived_, kDataPortQuietMs)) {
      return false;
    }
    rtpPort = receiver_.GetPort();
    rtcpPort = rtcp_.GetPort();
  }
  RTSP_SESSION_PARAMS params = DeviceSessionParams(*info, rtpPort, rtcpPort);
  params.blockSize = rtpPacketSize_;
  params.path = PlaybackPath(position);
  FillSessionParams(params);
  if (StopEvent().IsSet()) return false;
  return client_.Start(params, this, rtpMode_);
}

void CBaseRTSPEdgeStorageTask::StopSession() {
  client_.Stop();
  rtcp_.Stop();
  receiver_.Stop();
  CAutoLock guard(parserLock_);
  // Nothing more comes: what waits for a gap or for the next picture is played as it is.
  if (parser_) {
    sequencer_.Flush(UINT64_MAX, *this);
    parser_->FinishHeld(UINT64_MAX);
  }
  sequencer_.Reset();
  parser_.reset();
}

uint32_t CBaseRTSPEdgeStorageTask::FlushIdle() {
  // Busy means packets are flowing (or a frame sink blocks): nothing is idle.
  if (!parserLock_.TryEnter()) return 0;
  const uint64_t wait = sequencer_.Flush(SteadyMs(), *this);
  parserLock_.Leave();
  return static_cast<uint32_t>(std::min<uint64_t>(wait, 1000));
}

bool CBaseRTSPEdgeStorageTask::IsSessionRunning() { return client_.IsConnected() && client_.IsRunning(); }

bool CBaseRTSPEdgeStorageTask::SdpInfoReceived(const SDP_SESSION_INFO& info) {
  const std::string encoding = ToLower(info.video.encoding);
  std::unique_ptr<CRTPMediaParser> parser;
  if (encoding.empty() || StartsWith(encoding, "jpeg")) {
    parser = std::make_unique<CJpegRTPMediaParser>(Driver());
  } else if (StartsWith(encoding, "h264")) {
    parser = std::make_unique<CH264RTPMediaParser>(Driver());
  } else if (StartsWith(encoding, "mpeg4") || StartsWith(encoding, "mp4v")) {
    parser = std::make_unique<CMpeg4RTPMediaParser>(Driver());
  } else {
    LogMessage(kLogError, "%s: Unable to handle RTP video data from device %s - unexpected payload type \"%s\"",
               "orbisan::CBaseRTSPEdgeStorageTask::SdpInfoReceived", Driver()->GetDeviceName().c_str(),
               info.video.encoding.c_str());
  }
  CAutoLock guard(parserLock_);
  parser_ = std::move(parser);
  sequencer_.Reset();
  if (!parser_) return false;
  parser_->SetClient(this);
  parser_->SetSdpParameters(info);
  return true;
}

void CBaseRTSPEdgeStorageTask::RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) {
  if (source.sin_addr.s_addr != cameraAddress_.load()) return;
  packetReceived_.Set();
  rtcp_.CountPacket(packet.GetSequenceNumber());
  HandlePacket(packet);
}

void CBaseRTSPEdgeStorageTask::HandlePacket(const CRTPPacket& packet) {
  // Stray packets while a port pair is chosen are not the playback.
  if (client_.IsRunning()) NotifyPlaying();
  CAutoLock guard(parserLock_);
  if (parser_) sequencer_.Push(packet, SteadyMs(), *this);
}

void CBaseRTSPEdgeStorageTask::SequencedPacket(const CRTPPacket& packet, uint32_t lost) {
  (void)lost;  // the parser sees the gap in the numbering itself
  if (parser_) parser_->ProcessPacket(packet);
}

}  // namespace orbisan
