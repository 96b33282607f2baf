#include "rtsp/sdp_response_parser.h"

#include "rtsp/base64.h"
#include "rtsp/rtsp_text.h"

namespace orbisan {

using rtsptext::ExtractValue;
using rtsptext::ParseDecimal;
using rtsptext::Split;
using rtsptext::ToLower;

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kParameterEnd = " ;\r\n";

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of hex digits up to the first character that is not one.
std::vector<uint8_t> DecodeHex(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) break;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return out;
}

}  // namespace

SDP_MEDIA_INFO* CSDPResponseParser::Current() {
  switch (current_) {
    case kVideo:
      return &info_.video;
    case kAudio:
      return &info_.audio;
    case kMetadata:
      return &info_.metadata;
    default:
      return nullptr;
  }
}

bool CSDPResponseParser::Parse(std::string_view text) {
  info_ = SDP_SESSION_INFO{};
  current_ = kNone;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
    if (pos >= text.size()) break;
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    if (!ParseLine(std::string(text.substr(pos, end - pos)))) return false;
    pos = end;
  }
  return true;
}

bool CSDPResponseParser::ParseLine(const std::string& line) {
  const std::string lower = ToLower(line);
  if (lower.empty()) return true;
  if (StartsWith(lower, "m=")) return ParseMedia(line);
  if (StartsWith(lower, "c=in")) return ParseConnection(line);
  if (StartsWith(lower, "a=control")) return ParseControl(line);
  if (StartsWith(lower, "a=fmtp")) return ParseFormatParameters(line);
  if (StartsWith(lower, "a=rtpmap")) return ParseRtpMap(line);
  if (StartsWith(lower, "a=x-dimensions")) ParseDimensions(line);
  return true;
}

bool CSDPResponseParser::ParseMedia(const std::string& line) {
  current_ = kNone;
  const std::vector<std::string> tokens = Split(ExtractValue(line, "m", "=", kLineEnd), kBlanks, true);
  if (tokens.empty()) return false;
  const std::string kind = ToLower(tokens[0]);
  if (kind == "video") {
    current_ = kVideo;
  } else if (kind == "audio") {
    current_ = kAudio;
  } else if (kind == "metadata" || kind == "data" || kind == "application") {
    current_ = kMetadata;
  } else {
    return true;
  }
  if (tokens.size() < 3) return true;
  SDP_MEDIA_INFO* media = Current();
  media->port = static_cast<uint16_t>(ParseDecimal(tokens[1], 65535));
  media->transportProtocol = tokens[2];
  return true;
}

bool CSDPResponseParser::ParseConnection(const std::string& line) {
  const std::vector<std::string> tokens = Split(ExtractValue(line, "c", "=", kLineEnd), kBlanks, true);
  if (tokens.size() < 3 || tokens[0] != "IN") return false;
  if (tokens[1] == "IP6") return true;
  if (tokens[1] != "IP4") return false;
  const std::string address = tokens[2].substr(0, tokens[2].find('/'));
  if (SDP_MEDIA_INFO* media = Current()) media->connectionAddress = address;
  return !address.empty();
}

bool CSDPResponseParser::ParseControl(const std::string& line) {
  constexpr std::string_view kKey = "a=control:";
  const size_t pos = line.find(kKey);
  if (pos == std::string::npos) return false;
  const std::string value = line.substr(pos + kKey.size());
  if (value.empty()) return false;
  SDP_MEDIA_INFO* media = Current();
  if (media != nullptr && media->control.empty()) media->control = value;
  return true;
}

bool CSDPResponseParser::ParseFormatParameters(const std::string& line) {
  if (current_ == kNone) return false;
  if (current_ != kVideo) return true;
  const std::string sets = ExtractValue(line, "sprop-parameter-sets", "=", kParameterEnd);
  if (!sets.empty()) {
    const std::vector<std::string> entries = Split(sets, ",", false);
    if (entries.size() < 2) return false;
    info_.sps = DecodeBase64(entries[0]);
    info_.pps = DecodeBase64(entries[1]);
    return !info_.sps.empty() && !info_.pps.empty();
  }
  const std::string config = ExtractValue(line, "config", "=", kParameterEnd);
  if (config.empty()) return false;
  info_.config = config.find('=') != std::string::npos ? DecodeBase64(config) : DecodeHex(config);
  return !info_.config.empty();
}

bool CSDPResponseParser::ParseRtpMap(const std::string& line) {
  const std::vector<std::string> tokens = Split(ExtractValue(line, "a=rtpmap", ":", kLineEnd), kBlanks, true);
  if (tokens.size() < 2) return current_ == kMetadata;
  if (SDP_MEDIA_INFO* media = Current()) media->encoding = tokens[1];
  return true;
}

void CSDPResponseParser::ParseDimensions(const std::string& line) {
  const std::vector<std::string> entries = Split(ExtractValue(line, "x-dimensions", ":", " ;=\r\n"), ",", false);
  if (entries.size() != 2) return;
  info_.width = ParseDecimal(entries[0]);
  info_.height = ParseDecimal(entries[1]);
}

}  // namespace orbisan
