#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtsp/digest_auth.h"
#include "rtsp/rtsp_session_params.h"
#include "rtsp/sdp_session_info.h"

namespace orbisan {

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
  // One whole response (headers and body) to a request of the given kind.
  // False when the status line is unreadable, the status is neither 200 nor
  // 401, the CSeq is not the one of the last request, or a header or the
  // description is malformed. A camera text that holds a line break or other
  // control character (content base, session id) is refused, since it would
  // go into later requests.
  bool Parse(std::string_view response, uint32_t requestKind);

  const SDP_SESSION_INFO& GetSessionInfo() const { return sessionInfo_; }
  const std::string& GetProtocolVersion() const { return protocolVersion_; }
  uint32_t GetStatusCode() const { return statusCode_; }
  uint32_t GetCSeq() const { return cseq_; }
  uint32_t NextCSeq() { return ++cseq_; }
  const std::string& GetContentBase() const { return contentBase_; }
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
  uint8_t GetInterleavedChannel() const { return interleavedChannel_; }

 private:
  bool ParseHeader(const std::string& line);
  bool ParseSession(const std::string& value);
  bool ParseAuthenticate(const std::string& value);

  SDP_SESSION_INFO sessionInfo_;
  std::string protocolVersion_;
  uint32_t statusCode_ = 0;
  uint32_t cseq_ = 0;
  std::string contentBase_;
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
  uint8_t interleavedChannel_ = 0;
};

}  // namespace orbisan
