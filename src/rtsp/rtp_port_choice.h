#pragma once

#include <cstdint>

#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_receiver.h"
#include "runtime/event.h"

namespace orbisan {

constexpr uint16_t kFirstRtpPort = 3556;
constexpr uint16_t kRtpPortLimit = 4556;
// How long a candidate RTP port must stay quiet before it is taken. Video
// sessions take a pair at once and watch it until SETUP instead (packets
// of the camera arriving before SETUP belong to a stray stream); a pair
// taken in place of one found busy is checked this long.
constexpr uint32_t kVideoPortQuietMs = 1500;
constexpr uint32_t kDataPortQuietMs = 500;

// Finds a unicast RTP/RTCP port pair for a new session: even RTP ports from
// firstPort upward, below limit, RTCP on the next port. A port on which the
// camera's packets already arrive (packetReceived gets set within quietMs)
// belongs to a stream that is still running and is passed over. On success
// the receiver and the RTCP handler are left running on the pair; the search
// ends early, with false, when stopEvent is set.
bool ChooseRtpPortPair(CRTPReceiver& receiver, CRTCPHandler& rtcp, uint32_t cameraAddress, CEvent& stopEvent,
                       CEvent& packetReceived, uint32_t quietMs, uint16_t firstPort = kFirstRtpPort,
                       uint16_t limit = kRtpPortLimit);

}  // namespace orbisan
