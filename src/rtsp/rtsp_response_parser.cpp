#include "rtsp/rtsp_response_parser.h"

#include <cstdio>
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

std::string WithoutQuotes(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '"') out += c;
  }
  return out;
}

bool ScanUnsigned(const std::string& lower, const char* format, uint32_t& out) {
  unsigned long value = 0;
  if (std::sscanf(lower.c_str(), format, &value) != 1) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

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
      const size_t key = lines[i].find("interleaved");
      if (key == std::string::npos) continue;
      const size_t equals = lines[i].find('=', key);
      if (equals == std::string::npos) continue;
      const size_t end = lines[i].find_first_of(";-\r\n", equals + 1);
      const std::string value = Trim(lines[i].substr(equals + 1, end == std::string::npos ? end : end - equals - 1));
      interleavedChannel_ = static_cast<uint8_t>(ParseDecimal(value, 255));
    }
  }
  return true;
}

bool CRTSPResponseParser::ParseHeader(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon < 2) return true;
  const std::string name = ToLower(Trim(line.substr(0, colon)));
  const std::string lower = ToLower(line);

  if (name == "cseq") return ScanUnsigned(lower, "cseq: %lu", cseq_);
  if (name == "content-length") return ScanUnsigned(lower, "content-length: %lu", contentLength_);
  if (name == "content-type") {
    char type[256] = {};
    if (std::sscanf(lower.c_str(), "content-type: %255s", type) != 1) return false;
    contentType_ = type;
    return true;
  }
  if (name == "content-base") {
    const size_t key = lower.find("content-base:");
    if (key == std::string::npos) {
      contentBase_.clear();
      return false;
    }
    const size_t scheme = lower.find("rtsp://", key);
    if (scheme != std::string::npos) contentBase_ = Trim(line.substr(scheme));
    return true;
  }
  if (name == "session") return ParseSession(line);
  if (name == "www-authenticate") return ParseAuthenticate(line);
  // Date, Transport, Range, RTP-Info, Server, Accept-Ranges, RTCP-Interval
  // and anything unknown carry nothing the client keeps.
  return true;
}

bool CRTSPResponseParser::ParseSession(const std::string& line) {
  const size_t key = line.find("Session:");
  if (key == std::string::npos) {
    sessionId_.clear();
    return false;
  }
  const std::string rest = line.substr(key + 8);
  const size_t end = rest.find_first_of(";\r\n");
  sessionId_ = Trim(rest.substr(0, end));
  if (end != std::string::npos && rest[end] == ';') {
    const std::string parameters = rest.substr(end);
    const size_t timeout = parameters.find("timeout");
    const size_t equals = timeout == std::string::npos ? timeout : parameters.find('=', timeout);
    if (equals == std::string::npos) {
      sessionId_.clear();
    } else {
      const size_t valueEnd = parameters.find_first_of(";\r\n", equals + 1);
      const uint32_t seconds = ParseDecimal(
          Trim(parameters.substr(equals + 1, valueEnd == std::string::npos ? valueEnd : valueEnd - equals - 1)));
      sessionTimeout_ = seconds == 0 ? kDefaultSessionTimeout : seconds;
    }
  }
  return !sessionId_.empty();
}

bool CRTSPResponseParser::ParseAuthenticate(const std::string& line) {
  constexpr std::string_view kKey = "WWW-Authenticate: ";
  const size_t key = line.find(kKey);
  if (key == std::string::npos) return false;
  const size_t schemeStart = key + kKey.size();
  const size_t schemeEnd = line.find_first_of(" \t\r\n", schemeStart);
  const std::string scheme =
      line.substr(schemeStart, schemeEnd == std::string::npos ? schemeEnd : schemeEnd - schemeStart);
  realm_.clear();
  nonce_.clear();
  if (scheme == "Digest") {
    authScheme_ = kAuthDigest;
  } else if (scheme == "Basic") {
    authScheme_ = kAuthBasic;
  } else {
    authScheme_ = kAuthNone;
    return true;
  }
  const std::string rest = schemeEnd == std::string::npos ? std::string() : line.substr(schemeEnd);
  realm_ = WithoutQuotes(Trim(ExtractValue(rest, "realm", "=", ",\r\n")));
  nonce_ = WithoutQuotes(Trim(ExtractValue(rest, "nonce", "=", ",\r\n")));
  if (authScheme_ == kAuthDigest && (realm_.empty() || nonce_.empty())) return false;
  return true;
}

}  // namespace orbisan
