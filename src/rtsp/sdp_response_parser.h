#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtsp/sdp_session_info.h"

namespace orbisan {

// Reads the few lines of a session description that the driver needs:
// per media kind its port, protocol, connection address, control URL and
// encoding, plus the video's parameter sets, MPEG-4 configuration and size.
// Cameras write descriptions loosely, so a line that does not read is
// skipped, never fatal: only the first section of each kind is kept (a
// second video section must not lend its encoding to the first one's
// control), attributes may come in any order and more than once, and lines
// may end in CR LF, LF or CR with trailing blanks or tabs.
class CSDPResponseParser {
 public:
  CSDPResponseParser() = default;
  virtual ~CSDPResponseParser() = default;

  // Clears the record, then parses. True when the text has a section of a
  // known media kind; whether it is the one a session needs is the
  // caller's question (SDP_MEDIA_INFO::present).
  bool Parse(std::string_view text);
  const SDP_SESSION_INFO& GetSessionInfo() const { return info_; }

 private:
  enum MediaKind { kNone = 0, kVideo = 1, kAudio = 2, kMetadata = 3, kSkipped = 4 };

  void ParseLine(std::string_view line);
  void ParseMedia(std::string_view value);
  void ParseConnection(std::string_view value);
  void ParseAttribute(std::string_view value);
  void ParseRtpMap(std::string_view value);
  void ParseFormatParameters(std::string_view value);
  void ParseParameterSets(const std::string& sets);
  SDP_MEDIA_INFO* Current();
  // Whether an rtpmap or fmtp value names the section's first format.
  bool NamesFirstFormat(std::string_view value) const;

  SDP_SESSION_INFO info_;
  MediaKind current_ = kNone;
  std::string firstFormat_;        // first payload type of the current m= line
  bool encodingMatched_ = false;   // the encoding came from the first format's rtpmap
  std::string sessionConnection_;  // session-level c= address, for sections without their own
  bool ownConnection_[4] = {};     // the section of this kind had its own c= line
};

}  // namespace orbisan
