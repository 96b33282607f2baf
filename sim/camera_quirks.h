// Field-camera misbehaviours the simulated camera reproduces on demand
// (`strandline simulate --quirk NAME`, SimulatedCamera::Options::quirks).
#pragma once

#include <bitset>
#include <string_view>
#include <vector>

namespace strandline::sim {

enum class Quirk {
  // Description
  kNoSprop,
  kEmptyFmtp,
  kBadSprop,
  kSpropStartCode,
  kSpropOtherSize,
  kBadProfileLevelId,
  kNoContentType,
  kContentTypeParams,
  kSdpOddLines,
  // URLs
  kContentBaseNoScheme,
  kContentBaseDoubleScheme,
  kContentBaseQuerySlash,
  kAbsolutePathControl,
  kAbsoluteControlOtherHost,
  kNoContentBase,
  kRedirect301,
  kRedirect302,
  kRedirect303,
  kRedirect307,
  kRedirectChain,
  // Answers
  kTrailingBlanks,
  kOddSession,
  kTransportOdd,
  kOtherInterleavedChannels,
  kTcpProfileWithoutTcp,
  kNoServerPort,
  kRtpInfoMismatch,
  // Keep-alive and the camera's own requests
  kKeepaliveRefused,
  kKeepalive401,
  kCameraRequests,
  // RTP framing
  kMultiSlice,
  kNoMarker,
  kMarkerEverySlice,
  kMarkedParameterSets,
  kSetsOwnTimestamp,
  kStapAZeroLength,
  kStartCodesInPayload,
  kFuAStartEndOne,
  kFuAReservedBit,
  kFuAEmptyFragments,
  kFuAMissingEnd,
  kHeaderExtension,
  kPadding,
  kCsrc,
  kLargeDatagrams,
  // Sequence and sources
  kReorder,
  kDuplicate,
  kSequenceJump,
  kSsrcChange,
  kForeignSsrc,
  kRtcpOnRtp,
  kInterleavedNoise,
  // Timing
  kEqualTimestamps,
  kTimestampBackstep,
  kTimestampJump,
  kSrWallclockStep,
  kCount
};

// Which RTP transports a quirk shows on (the others pass it unchanged).
enum class QuirkTransport { kBoth, kUdp, kInterleaved };

struct QuirkInfo {
  Quirk quirk;
  const char* name;
  QuirkTransport transport;
  const char* summary;  // one line for `--quirk list`
};

const std::vector<QuirkInfo>& AllQuirks();
const QuirkInfo* FindQuirk(std::string_view name);

class QuirkSet {
 public:
  void Add(Quirk quirk) { bits_.set(static_cast<size_t>(quirk)); }
  // False for an unknown name.
  bool Add(std::string_view name);
  bool Has(Quirk quirk) const { return bits_.test(static_cast<size_t>(quirk)); }
  bool Empty() const { return bits_.none(); }

 private:
  std::bitset<static_cast<size_t>(Quirk::kCount)> bits_;
};

}  // namespace strandline::sim
