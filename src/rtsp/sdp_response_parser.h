#pragma once

#include <string>
#include <string_view>

#include "rtsp/sdp_session_info.h"

namespace orbisan {

// Reads the few lines of a session description that the driver needs:
// per media kind its port, protocol, connection address, control URL and
// encoding, plus the video's parameter sets, MPEG-4 configuration and size.
class CSDPResponseParser {
 public:
  CSDPResponseParser() = default;
  virtual ~CSDPResponseParser() = default;

  // Clears the record, then parses. False when a line the parser relies on
  // is malformed; what was read up to there stays in the record.
  bool Parse(std::string_view text);
  const SDP_SESSION_INFO& GetSessionInfo() const { return info_; }

 private:
  enum MediaKind { kNone = 0, kVideo = 1, kAudio = 2, kMetadata = 3 };

  bool ParseLine(const std::string& line);
  bool ParseMedia(const std::string& line);
  bool ParseConnection(const std::string& line);
  bool ParseControl(const std::string& line);
  bool ParseFormatParameters(const std::string& line);
  bool ParseRtpMap(const std::string& line);
  void ParseDimensions(const std::string& line);
  SDP_MEDIA_INFO* Current();

  SDP_SESSION_INFO info_;
  MediaKind current_ = kNone;
};

}  // namespace orbisan
