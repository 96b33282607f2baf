#include "rtsp/rtsp_response_parser.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "rtsp/rtsp_text.h"
#include "rtsp/sdp_response_parser.h"

namespace orbisan {

using rtsptext::ExtractValue;
using rtsptext::ParseDecimal;
using rtsptext::ToLower;
using rtsptext::Trim;

namespace {

constexpr uint32_t kDefaultSessionTimeout = 30;

// Lines between CR LF pairs; the position after the first empty line (the
// start of the body) goes to bodyStart.
std::vector<std::string> SplitHeaderLines(std::string_view text, size_t& bodyStart) {
  std::vector<std::string> lines;
  size_t pos = 0;
  bodyStart = text.size();
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 2;
    if (lines.back().empty() && lines.size() > 1) {
      bodyStart = pos;
      break;
    }
  }
  return lines;
}

bool HasControlCharacter(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// Name (lowercase, trimmed) and value (trimmed) of a header line; false for
// a line without a name.
bool SplitHeader(std::string_view line, std::string& name, std::string& value) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = ToLower(Trim(line.substr(0, colon)));
  if (name.empty()) return false;
  value = Trim(line.substr(colon + 1));
  return true;
}

// The trimmed value of the first header with the given lowercase name in a
// header block; false when there is none.
bool FindHeader(std::string_view block, std::string_view wanted, std::string& value) {
  size_t pos = block.find("\r\n");  // skip the status line
  while (pos != std::string_view::npos && pos + 2 < block.size()) {
    const size_t start = pos + 2;
    const size_t end = block.find("\r\n", start);
    const std::string_view line = block.substr(start, end == std::string_view::npos ? end : end - start);
    if (line.empty()) return false;
    std::string name;
    if (SplitHeader(line, name, value) && name == wanted) return true;
    pos = end;
  }
  return false;
}

bool ParseNumber(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool CRTSPResponseParser::ReadContentLength(std::string_view header, uint64_t& length) {
  length = 0;
  std::string value;
  if (!FindHeader(header, "content-length", value)) return true;
  return ParseNumber(value, length);
}

bool CRTSPResponseParser::ReadCSeq(std::string_view answer, uint32_t& cseq) {
  std::string value;
  uint64_t number = 0;
  if (!FindHeader(answer, "cseq", value) || !ParseNumber(value, number) || number > UINT32_MAX) return false;
  cseq = static_cast<uint32_t>(number);
  return true;
}

void CRTSPResponseParser::Reset() {
  sessionInfo_ = SDP_SESSION_INFO{};
  protocolVersion_.clear();
  statusCode_ = 0;
  cseq_ = 0;
  contentBase_.clear();
  contentType_.clear();
  contentLength_ = 0;
  sessionId_.clear();
  sessionTimeout_ = 0;
  authScheme_ = kAuthNone;
  realm_.clear();
  nonce_.clear();
  algorithm_ = DigestAlgorithm::kMd5;
  qopAuth_ = false;
  stale_ = false;
  opaque_.clear();
  challengeInAnswer_ = false;
  interleavedChannel_ = 0;
}

bool CRTSPResponseParser::Parse(std::string_view response, uint32_t requestKind) {
  size_t bodyStart = 0;
  const std::vector<std::string> lines = SplitHeaderLines(response, bodyStart);
  if (lines.empty()) return false;

  char version[256] = {};
  unsigned int status = 0;
  if (std::sscanf(lines[0].c_str(), "%255s %u ", version, &status) < 2) return false;
  protocolVersion_ = version;
  statusCode_ = status;
  contentLength_ = 0;
  challengeInAnswer_ = false;
  stale_ = false;
  if (status != 200 && status != 401) return false;

  size_t index = 1;
  for (; index < lines.size() && !lines[index].empty(); ++index) {
    if (!ParseHeader(lines[index])) return false;
  }

  if (requestKind == kRtspDescribe) {
    // Only a successful answer carries a description; the body of a 401 is
    // whatever the server chose to explain the refusal with.
    if (status == 200 && contentLength_ > 0) {
      const std::string_view body = bodyStart < response.size() ? response.substr(bodyStart) : std::string_view();
      CSDPResponseParser sdp;
      const bool ok = sdp.Parse(body.substr(0, contentLength_));
      sessionInfo_ = sdp.GetSessionInfo();
      if (!ok) return false;
    }
  } else if (requestKind == kRtspSetup) {
    for (size_t i = 1; i < index && i < lines.size(); ++i) {
      const std::string line = ToLower(lines[i]);
      const size_t key = line.find("interleaved");
      if (key == std::string::npos) continue;
      const size_t equals = line.find('=', key);
      if (equals == std::string::npos) continue;
      const size_t end = line.find_first_of(";-\r\n", equals + 1);
      const std::string value = Trim(line.substr(equals + 1, end == std::string::npos ? end : end - equals - 1));
      interleavedChannel_ = static_cast<uint8_t>(ParseDecimal(value, 255));
    }
  }
  return true;
}

bool CRTSPResponseParser::ParseHeader(const std::string& line) {
  std::string name;
  std::string value;
  if (!SplitHeader(line, name, value)) return true;

  if (name == "cseq") {
    // The answer must be the one to the request just sent: a counter copied
    // from the camera would let a stray answer steer the next requests.
    uint64_t number = 0;
    return ParseNumber(value, number) && number == cseq_;
  }
  if (name == "content-length") {
    uint64_t number = 0;
    if (!ParseNumber(value, number) || number > kMaxAnswerBytes) return false;
    contentLength_ = static_cast<uint32_t>(number);
    return true;
  }
  if (name == "content-type") {
    const std::string lower = ToLower(value);
    contentType_ = lower.substr(0, lower.find_first_of(" \t;"));
    return !contentType_.empty();
  }
  if (name == "content-base") {
    if (HasControlCharacter(value)) return false;
    const size_t scheme = ToLower(value).find("rtsp://");
    if (scheme != std::string::npos) contentBase_ = value.substr(scheme);
    return true;
  }
  if (name == "session") return ParseSession(value);
  if (name == "www-authenticate") return ParseAuthenticate(value);
  // Date, Transport, Range, RTP-Info, Server, Accept-Ranges, RTCP-Interval
  // and anything unknown carry nothing the client keeps.
  return true;
}

bool CRTSPResponseParser::ParseSession(const std::string& value) {
  const size_t end = value.find(';');
  sessionId_ = Trim(value.substr(0, end));
  if (HasControlCharacter(sessionId_)) sessionId_.clear();
  if (end != std::string::npos) {
    const std::string parameters = ToLower(value.substr(end));
    const size_t timeout = parameters.find("timeout");
    const size_t equals = timeout == std::string::npos ? timeout : parameters.find('=', timeout);
    if (equals == std::string::npos) {
      sessionId_.clear();
    } else {
      const size_t valueEnd = parameters.find(';', equals + 1);
      const uint32_t seconds = ParseDecimal(
          Trim(parameters.substr(equals + 1, valueEnd == std::string::npos ? valueEnd : valueEnd - equals - 1)));
      sessionTimeout_ = seconds == 0 ? kDefaultSessionTimeout : seconds;
    }
  }
  return !sessionId_.empty();
}

namespace {

// Rank of a challenge: 0 for one the client cannot answer, Basic below every
// Digest, and Digest by its algorithm.
int ChallengeStrength(uint32_t scheme, DigestAlgorithm algorithm) {
  if (scheme == kAuthBasic) return 1;
  if (scheme != kAuthDigest || algorithm == DigestAlgorithm::kUnsupported) return 0;
  return 1 + static_cast<int>(algorithm);
}

bool HasToken(const std::string& list, const std::string& token) {
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(',', start), list.size());
    if (ToLower(Trim(list.substr(start, end - start))) == token) return true;
    start = end + 1;
  }
  return false;
}

// The auth-params of a challenge (name=token or name="quoted, text"), names
// in lower case, values without their quotes.
std::map<std::string, std::string> ChallengeParams(const std::string& text) {
  std::map<std::string, std::string> params;
  size_t at = 0;
  while (at < text.size()) {
    const size_t equals = text.find('=', at);
    if (equals == std::string::npos) break;
    const std::string name = ToLower(Trim(text.substr(at, equals - at)));
    size_t start = text.find_first_not_of(" \t", equals + 1);
    if (start == std::string::npos) start = text.size();
    std::string value;
    size_t end = start;
    if (start < text.size() && text[start] == '"') {
      end = text.find('"', start + 1);
      if (end == std::string::npos) end = text.size();
      value = text.substr(start + 1, end - start - 1);
      end = text.find(',', end);
    } else {
      end = text.find(',', start);
      value = Trim(text.substr(start, end == std::string::npos ? end : end - start));
    }
    params.emplace(name, value);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return params;
}

}  // namespace

bool CRTSPResponseParser::ParseAuthenticate(const std::string& value) {
  const size_t schemeEnd = value.find_first_of(" \t");
  const std::string scheme = ToLower(value.substr(0, schemeEnd));
  uint32_t kind = kAuthNone;
  if (scheme == "digest") {
    kind = kAuthDigest;
  } else if (scheme == "basic") {
    kind = kAuthBasic;
  }
  const std::string rest = schemeEnd == std::string::npos ? std::string() : value.substr(schemeEnd);
  std::map<std::string, std::string> params = ChallengeParams(rest);
  const DigestAlgorithm algorithm =
      kind == kAuthDigest ? DigestAlgorithmFromName(params["algorithm"]) : DigestAlgorithm::kMd5;
  // A later challenge of the same answer replaces an earlier one only when
  // it is stronger; the first one of an answer replaces the last answer's.
  const int strength = ChallengeStrength(kind, algorithm);
  if (challengeInAnswer_ && strength <= ChallengeStrength(authScheme_, algorithm_)) return true;
  challengeInAnswer_ = true;
  realm_.clear();
  nonce_.clear();
  opaque_.clear();
  qopAuth_ = false;
  stale_ = false;
  algorithm_ = algorithm;
  authScheme_ = strength == 0 ? kAuthNone : kind;
  if (authScheme_ == kAuthNone) return true;
  realm_ = params["realm"];
  nonce_ = params["nonce"];
  opaque_ = params["opaque"];
  qopAuth_ = HasToken(params["qop"], "auth");
  stale_ = ToLower(params["stale"]) == "true";
  if (HasControlCharacter(realm_) || HasControlCharacter(nonce_) || HasControlCharacter(opaque_)) return false;
  if (authScheme_ == kAuthDigest && (realm_.empty() || nonce_.empty())) return false;
  return true;
}

}  // namespace orbisan
