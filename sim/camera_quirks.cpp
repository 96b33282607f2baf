#include "sim/camera_quirks.h"

namespace strandline::sim {

const std::vector<QuirkInfo>& AllQuirks() {
  using Q = Quirk;
  constexpr auto kBoth = QuirkTransport::kBoth;
  static const std::vector<QuirkInfo> quirks = {
      {Q::kNoSprop, "no-sprop", kBoth, "video format line without sprop-parameter-sets; sets only in band"},
      {Q::kEmptyFmtp, "empty-fmtp", kBoth, "video format line \"a=fmtp:96\" with no parameters"},
      {Q::kBadSprop, "bad-sprop", kBoth, "sprop-parameter-sets that decode to garbage"},
      {Q::kSpropStartCode, "sprop-start-code", kBoth, "sprop-parameter-sets entries that begin with a start code"},
      {Q::kSpropOtherSize, "sprop-other-size", kBoth, "sprop-parameter-sets of a 320x240 picture"},
      {Q::kBadProfileLevelId, "bad-profile-level-id", kBoth, "an unreadable profile-level-id"},
      {Q::kNoContentType, "no-content-type", kBoth, "DESCRIBE answered without Content-Type"},
      {Q::kContentTypeParams, "content-type-params", kBoth, "Content-Type: application/sdp; charset=utf-8"},
      {Q::kSdpOddLines, "sdp-odd-lines", kBoth,
       "no o=, repeated s=, malformed c= and t=, an unknown m= form, trailing blanks and tabs, duplicated and "
       "reordered attributes"},
      {Q::kContentBaseNoScheme, "content-base-no-scheme", kBoth, "Content-Base without \"rtsp://\""},
      {Q::kContentBaseDoubleScheme, "content-base-double-scheme", kBoth, "Content-Base \"rtsp://rtsp://...\""},
      {Q::kContentBaseQuerySlash, "content-base-query-slash", kBoth,
       "Content-Base \".../live.sdp?channel=1/\": a query string, then the slash"},
      {Q::kAbsolutePathControl, "absolute-path-control", kBoth, "media control \"/media/video1\""},
      {Q::kAbsoluteControlOtherHost, "absolute-control-other-host", kBoth,
       "media control rtsp://192.0.2.7:554/stream=0, an address that is not the camera's"},
      {Q::kNoContentBase, "no-content-base", kBoth, "DESCRIBE answered without Content-Base"},
      {Q::kRedirect301, "redirect-301", kBoth, "DESCRIBE answered 301 with a Location on another path"},
      {Q::kRedirect302, "redirect-302", kBoth, "DESCRIBE answered 302 with a Location on another path"},
      {Q::kRedirect303, "redirect-303", kBoth, "DESCRIBE answered 303 with a Location on another path"},
      {Q::kRedirect307, "redirect-307", kBoth, "DESCRIBE answered 307 with a Location on another path"},
      {Q::kRedirectChain, "redirect-chain", kBoth, "three redirects (301, 302, 307) before the description"},
      {Q::kTrailingBlanks, "trailing-blanks", kBoth, "every answer header value ends in blanks and a tab"},
      {Q::kOddSession, "odd-session", kBoth, "Session with blanks and the id characters $-_.+"},
      {Q::kTransportOdd, "transport-odd", kBoth,
       "Transport answer reordered, in mixed case, with quoted values and a short blank-padded ssrc"},
      {Q::kOtherInterleavedChannels, "other-interleaved-channels", QuirkTransport::kInterleaved,
       "SETUP answered interleaved=6-7 whatever was asked; RTP on channel 6"},
      {Q::kTcpProfileWithoutTcp, "tcp-profile-without-tcp", QuirkTransport::kInterleaved,
       "interleaved SETUP answered with the profile RTP/AVP (no /TCP)"},
      {Q::kNoServerPort, "no-server-port", QuirkTransport::kUdp, "UDP SETUP answered without server_port"},
      {Q::kRtpInfoMismatch, "rtp-info-mismatch", kBoth, "PLAY answered with an RTP-Info for no track of the session"},
      {Q::kKeepaliveRefused, "keepalive-refused", kBoth,
       "OPTIONS after PLAY answered 405 with a wrong CSeq, GET_PARAMETER answered 501"},
      {Q::kKeepalive401, "keepalive-401", kBoth,
       "every keep-alive after PLAY challenged with 401 and a new Digest nonce once"},
      {Q::kCameraRequests, "camera-requests", kBoth,
       "the camera sends OPTIONS and GET_PARAMETER requests on the RTSP connection once a second"},
      {Q::kMultiSlice, "multi-slice", kBoth, "four slices per picture, marker on the last"},
      {Q::kNoMarker, "no-marker", kBoth, "no marker bits at all"},
      {Q::kMarkerEverySlice, "marker-every-slice", kBoth, "four slices per picture, a marker after each"},
      {Q::kMarkedParameterSets, "marked-parameter-sets", kBoth, "marker bits on SPS and PPS packets"},
      {Q::kSetsOwnTimestamp, "sets-own-timestamp", kBoth, "SPS and PPS one tick before their picture"},
      {Q::kStapAZeroLength, "stap-a-zero-length", kBoth, "SPS and PPS in a STAP-A with zero-length entries"},
      {Q::kStartCodesInPayload, "start-codes-in-payload", kBoth, "SPS, start code and PPS in one single-NAL packet"},
      {Q::kFuAStartEndOne, "fu-a-start-end-one", kBoth,
       "every single NAL unit sent as one FU-A with start and end bits"},
      {Q::kFuAReservedBit, "fu-a-reserved-bit", kBoth, "FU-A headers with the reserved bit set"},
      {Q::kFuAEmptyFragments, "fu-a-empty-fragments", kBoth, "an empty FU-A fragment after every first fragment"},
      {Q::kFuAMissingEnd, "fu-a-missing-end", kBoth, "FU-A without end bits"},
      {Q::kHeaderExtension, "header-extension", kBoth, "an RTP header extension on every packet"},
      {Q::kPadding, "padding", kBoth, "RTP padding on every packet"},
      {Q::kCsrc, "csrc", kBoth, "two CSRC entries on every packet"},
      {Q::kLargeDatagrams, "large-datagrams", kBoth, "NAL units in fragments of up to 60000 bytes"},
      {Q::kReorder, "reorder", kBoth, "two neighbouring packets swapped every 37 packets"},
      {Q::kDuplicate, "duplicate", kBoth, "every 50th packet sent twice"},
      {Q::kSequenceJump, "sequence-jump", kBoth, "sequence numbers jump by 5000 between two pictures, nothing lost"},
      {Q::kSsrcChange, "ssrc-change", kBoth, "new SSRC, sequence and time base at a key frame (encoder restart)"},
      {Q::kForeignSsrc, "foreign-ssrc", kBoth, "packets of another SSRC mixed into the stream"},
      {Q::kRtcpOnRtp, "rtcp-on-rtp", kBoth, "sender reports on the RTP port or channel too"},
      {Q::kInterleavedNoise, "interleaved-noise", QuirkTransport::kInterleaved,
       "stray bytes between interleaved frames"},
      {Q::kEqualTimestamps, "equal-timestamps", kBoth, "every tenth picture with its predecessor's time stamp"},
      {Q::kTimestampBackstep, "timestamp-backstep", kBoth, "every 30th picture 10 ms before its predecessor"},
      {Q::kTimestampJump, "timestamp-jump", kBoth, "time stamps jump 10 minutes ahead, then 20 minutes back"},
      {Q::kSrWallclockStep, "sr-wallclock-step", kBoth,
       "sender reports every second whose wall-clock time steps an hour ahead while RTP runs on"},
  };
  return quirks;
}

const QuirkInfo* FindQuirk(std::string_view name) {
  for (const QuirkInfo& info : AllQuirks()) {
    if (name == info.name) return &info;
  }
  return nullptr;
}

bool QuirkSet::Add(std::string_view name) {
  const QuirkInfo* info = FindQuirk(name);
  if (info) Add(info->quirk);
  return info != nullptr;
}

}  // namespace strandline::sim
