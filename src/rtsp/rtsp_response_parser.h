#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_session_params.h"
#include "rtsp/sdp_session_info.h"

namespace orbisan {

// What a SETUP answer's Transport header says about the stream.
struct RTSP_TRANSPORT_INFO {
  bool interleavedGiven = false;
  uint8_t rtpChannel = 0;
  uint8_t rtcpChannel = 1;
  uint16_t serverRtpPort = 0;  // 0: not given
  uint16_t serverRtcpPort = 0;
  bool ssrcGiven = false;
  uint32_t ssrc = 0;
};

// Parses RTSP responses and keeps the session values that outlive each
// response (CSeq, content base, session id and timeout, authorization
// challenge, interleaved channel, session description). Header names are
// matched whatever their case, with or without blanks around the colon.
class CRTSPResponseParser {
 public:
  // Largest answer (headers and body) the client takes from a camera.
  static constexpr size_t kMaxAnswerBytes = 64 * 1024;

  // The Content-Length of a header block (0 when absent); false when the
  // value is not a plain decimal number. Values beyond 32 bits read as such.
  static bool ReadContentLength(std::string_view header, uint64_t& length);
  // The CSeq of an answer; false when it carries none that reads.
  static bool ReadCSeq(std::string_view answer, uint32_t& cseq);

  CRTSPResponseParser() = default;
  virtual ~CRTSPResponseParser() = default;

  void Reset();
  // A redirect moves the session: the old answers' base no longer holds.
  void ForgetBase() {
    contentBase_.clear();
    contentLocation_.clear();
  }
  // One whole response (headers and body) to a request of the given kind,
  // whatever its status (the caller judges it). False, with GetError
  // telling why, when the status line is unreadable or a header the session
  // depends on cannot be used: a camera text that holds a line break or
  // other control character (content base, session id) would go into later
  // requests, and a Digest challenge without realm or nonce cannot be
  // answered. Everything else a camera writes loosely (blanks, case, extra
  // parameters, a CSeq of its own numbering, a description with odd lines)
  // is read as far as it goes.
  bool Parse(std::string_view response, uint32_t requestKind);
  // Why the last Parse failed, in words for a log line.
  const std::string& GetError() const { return error_; }

  const SDP_SESSION_INFO& GetSessionInfo() const { return sessionInfo_; }
  const std::string& GetProtocolVersion() const { return protocolVersion_; }
  uint32_t GetStatusCode() const { return statusCode_; }
  uint32_t GetCSeq() const { return cseq_; }
  uint32_t NextCSeq() { return ++cseq_; }
  // As the camera wrote it (trimmed); the client makes a URL of it.
  const std::string& GetContentBase() const { return contentBase_; }
  const std::string& GetContentLocation() const { return contentLocation_; }
  // Location of the last answer (a redirect), empty when none.
  const std::string& GetLocation() const { return location_; }
  const std::string& GetContentType() const { return contentType_; }
  uint32_t GetContentLength() const { return contentLength_; }
  const std::string& GetSessionId() const { return sessionId_; }
  uint32_t GetSessionTimeout() const { return sessionTimeout_; }
  uint32_t GetAuthScheme() const { return authScheme_; }
  const std::string& GetRealm() const { return realm_; }
  const std::string& GetNonce() const { return nonce_; }
  // Digest challenge details; of several challenges in one answer the
  // strongest the client can answer is kept.
  DigestAlgorithm GetDigestAlgorithm() const { return algorithm_; }
  bool GetQopAuth() const { return qopAuth_; }
  bool GetStale() const { return stale_; }
  const std::string& GetOpaque() const { return opaque_; }
  uint8_t GetInterleavedChannel() const { return transport_.rtpChannel; }
  const RTSP_TRANSPORT_INFO& GetTransport() const { return transport_; }

 private:
  bool ParseHeader(const std::string& line);
  bool ParseSession(const std::string& value);
  bool ParseAuthenticate(const std::string& value);
  void ParseTransport(const std::string& value);
  bool Fail(const std::string& why);

  SDP_SESSION_INFO sessionInfo_;
  std::string protocolVersion_;
  uint32_t statusCode_ = 0;
  uint32_t cseq_ = 0;
  std::string contentBase_;
  std::string contentLocation_;
  std::string location_;
  std::string error_;
  std::string contentType_;
  uint32_t contentLength_ = 0;
  std::string sessionId_;
  uint32_t sessionTimeout_ = 0;
  uint32_t authScheme_ = kAuthNone;
  std::string realm_;
  std::string nonce_;
  DigestAlgorithm algorithm_ = DigestAlgorithm::kMd5;
  bool qopAuth_ = false;
  bool stale_ = false;
  std::string opaque_;
  bool challengeInAnswer_ = false;
  RTSP_TRANSPORT_INFO transport_;
};

}  // namespace orbisan
