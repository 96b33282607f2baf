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
  contentLocation_.clear();
  location_.clear();
  error_.clear();
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
  transport_ = RTSP_TRANSPORT_INFO{};
}

bool CRTSPResponseParser::Fail(const std::string& why) {
  error_ = why;
  return false;
}

bool CRTSPResponseParser::Parse(std::string_view response, uint32_t requestKind) {
  error_.clear();
  size_t bodyStart = 0;
  const std::vector<std::string> lines = SplitHeaderLines(response, bodyStart);
  if (lines.empty()) return Fail("the answer is empty");

  char version[256] = {};
  unsigned int status = 0;
  if (std::sscanf(lines[0].c_str(), "%255s %u", version, &status) < 2 || status < 100 || status > 999) {
    return Fail("the answer does not start with an RTSP status line (\"" + lines[0].substr(0, 60) + "\")");
  }
  protocolVersion_ = version;
  statusCode_ = status;
  contentLength_ = 0;
  challengeInAnswer_ = false;
  stale_ = false;
  location_.clear();

  size_t index = 1;
  for (; index < lines.size() && !lines[index].empty(); ++index) {
    if (!ParseHeader(lines[index])) return false;
  }

  // Only a successful answer carries a description; the body of a 401 is
  // whatever the server chose to explain the refusal with. A description
  // that does not read leaves the session without media, which the user
  // of the session tells in its own words.
  if (requestKind == kRtspDescribe && status >= 200 && status < 300) {
    sessionInfo_ = SDP_SESSION_INFO{};
    if (contentLength_ > 0) {
      const std::string_view body = bodyStart < response.size() ? response.substr(bodyStart) : std::string_view();
      CSDPResponseParser sdp;
      sdp.Parse(body.substr(0, contentLength_));
      sessionInfo_ = sdp.GetSessionInfo();
    }
  }
  return true;
}

bool CRTSPResponseParser::ParseHeader(const std::string& line) {
  std::string name;
  std::string value;
  if (!SplitHeader(line, name, value)) return true;

  if (name == "cseq") {
    // Read by the client to pair answers with requests; a camera that
    // numbers its answers its own way still answers.
    return true;
  }
  if (name == "content-length") {
    uint64_t number = 0;
    if (!ParseNumber(value, number) || number > kMaxAnswerBytes) {
      return Fail("its Content-Length \"" + value.substr(0, 30) + "\" does not read");
    }
    contentLength_ = static_cast<uint32_t>(number);
    return true;
  }
  if (name == "content-type") {
    const std::string lower = ToLower(value);
    contentType_ = Trim(lower.substr(0, lower.find(';')));
    return true;
  }
  if (name == "content-base" || name == "content-location" || name == "location") {
    if (HasControlCharacter(value)) return Fail("its " + name + " holds a control character");
    std::string& target = name == "content-base" ? contentBase_ : name == "location" ? location_ : contentLocation_;
    if (!value.empty()) target = value;
    return true;
  }
  if (name == "session") return ParseSession(value);
  if (name == "transport") {
    ParseTransport(value);
    return true;
  }
  if (name == "www-authenticate") return ParseAuthenticate(value) || Fail("its Digest challenge has no realm or nonce");
  // Date, Range, RTP-Info (a hint only), Server, Accept-Ranges,
  // RTCP-Interval and anything unknown carry nothing the client keeps.
  return true;
}

bool CRTSPResponseParser::ParseSession(const std::string& value) {
  const size_t end = value.find(';');
  const std::string id = Trim(value.substr(0, end));
  if (HasControlCharacter(id)) return Fail("its Session header holds a control character");
  // An empty Session header names no session; the one known stays.
  if (id.empty()) return true;
  sessionId_ = id;
  if (end == std::string::npos) return true;
  for (const std::string& parameter : rtsptext::Split(ToLower(value.substr(end + 1)), ";", true)) {
    const size_t equals = parameter.find('=');
    if (Trim(parameter.substr(0, equals)) != "timeout") continue;
    const uint32_t seconds =
        equals == std::string::npos ? 0 : ParseDecimal(Trim(parameter.substr(equals + 1), " \t\""));
    sessionTimeout_ = seconds == 0 ? kDefaultSessionTimeout : seconds;
  }
  return true;
}

namespace {

// "a-b" or "a" as two numbers; the second defaults to a + 1.
bool ReadPair(const std::string& text, uint32_t max, uint32_t& first, uint32_t& second) {
  const size_t dash = text.find('-');
  const std::string a = Trim(text.substr(0, dash));
  if (a.empty() || a.find_first_not_of("0123456789") != std::string::npos) return false;
  first = ParseDecimal(a, max);
  second = first + 1;
  if (dash != std::string::npos) {
    const std::string b = Trim(text.substr(dash + 1));
    if (!b.empty() && b.find_first_not_of("0123456789") == std::string::npos) second = ParseDecimal(b, max);
  }
  return first <= max && second <= max;
}

bool ReadHex32(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  out = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  return true;
}

}  // namespace

void CRTSPResponseParser::ParseTransport(const std::string& value) {
  // The first transport of a list is the one the camera chose; parameters
  // in any order and case, values possibly quoted or blank-padded.
  transport_ = RTSP_TRANSPORT_INFO{};
  const std::string first = ToLower(value.substr(0, value.find(',')));
  for (const std::string& item : rtsptext::Split(first, ";", true)) {
    const size_t equals = item.find('=');
    const std::string key = Trim(item.substr(0, equals));
    if (equals == std::string::npos) continue;
    const std::string text = Trim(item.substr(equals + 1), " \t\"");
    uint32_t a = 0;
    uint32_t b = 0;
    if (key == "interleaved" && ReadPair(text, 255, a, b)) {
      transport_.interleavedGiven = true;
      transport_.rtpChannel = static_cast<uint8_t>(a);
      transport_.rtcpChannel = static_cast<uint8_t>(b);
    } else if (key == "server_port" && ReadPair(text, 65535, a, b)) {
      transport_.serverRtpPort = static_cast<uint16_t>(a);
      transport_.serverRtcpPort = static_cast<uint16_t>(b);
    } else if (key == "ssrc") {
      transport_.ssrcGiven = ReadHex32(text, transport_.ssrc);
    }
  }
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
