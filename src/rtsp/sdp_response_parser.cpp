#include "rtsp/sdp_response_parser.h"

#include "rtsp/base64.h"
#include "rtsp/rtsp_text.h"

namespace orbisan {

using rtsptext::ParseDecimal;
using rtsptext::Split;
using rtsptext::ToLower;
using rtsptext::Trim;

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr uint8_t kNalSps = 7;
constexpr uint8_t kNalPps = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool AllHex(const std::string& text) {
  for (char c : text) {
    if (HexDigit(c) < 0) return false;
  }
  return !text.empty();
}

std::vector<uint8_t> DecodeHex(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
  }
  return out;
}

// Some cameras put an Annex B start code in front of a set.
void DropStartCode(std::vector<uint8_t>& nal) {
  size_t zeros = 0;
  while (zeros < nal.size() && nal[zeros] == 0) ++zeros;
  if (zeros >= 2 && zeros < nal.size() && nal[zeros] == 1) nal.erase(nal.begin(), nal.begin() + zeros + 1);
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
  firstFormat_.clear();
  encodingMatched_ = false;
  sessionConnection_.clear();
  for (bool& own : ownConnection_) own = false;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    if (end > pos) ParseLine(text.substr(pos, end - pos));
    pos = end;
  }
  // A session-level address holds for every section without its own.
  SDP_MEDIA_INFO* media[] = {nullptr, &info_.video, &info_.audio, &info_.metadata};
  for (int kind = kVideo; kind <= kMetadata; ++kind) {
    if (media[kind]->present && !ownConnection_[kind]) media[kind]->connectionAddress = sessionConnection_;
  }
  return info_.video.present || info_.audio.present || info_.metadata.present;
}

void CSDPResponseParser::ParseLine(std::string_view raw) {
  const std::string line = Trim(raw, kBlanks);
  if (line.size() < 2 || line[1] != '=') return;
  const std::string_view value = std::string_view(line).substr(2);
  switch (line[0]) {
    case 'm':
    case 'M':
      ParseMedia(value);
      break;
    case 'c':
    case 'C':
      ParseConnection(value);
      break;
    case 'a':
    case 'A':
      if (current_ != kSkipped) ParseAttribute(value);
      break;
    default:
      break;
  }
}

void CSDPResponseParser::ParseMedia(std::string_view value) {
  current_ = kSkipped;
  firstFormat_.clear();
  encodingMatched_ = false;
  const std::vector<std::string> tokens = Split(value, kBlanks, true);
  if (tokens.empty()) return;
  const std::string kind = ToLower(tokens[0]);
  MediaKind next = kSkipped;
  if (kind == "video") {
    next = kVideo;
  } else if (kind == "audio") {
    next = kAudio;
  } else if (kind == "metadata" || kind == "data" || kind == "application") {
    next = kMetadata;
  }
  if (next == kSkipped) return;
  current_ = next;
  SDP_MEDIA_INFO* media = Current();
  if (media->present) {
    current_ = kSkipped;  // a later section of a kind already read
    return;
  }
  media->present = true;
  if (tokens.size() < 3) return;
  // "5000/2" announces a port count after the port.
  media->port = static_cast<uint16_t>(ParseDecimal(tokens[1].substr(0, tokens[1].find('/')), 65535));
  media->transportProtocol = tokens[2];
  if (tokens.size() > 3) firstFormat_ = tokens[3];
}

void CSDPResponseParser::ParseConnection(std::string_view value) {
  const std::vector<std::string> tokens = Split(value, kBlanks, true);
  if (tokens.size() < 3 || ToLower(tokens[0]) != "in") return;
  // An IP6 line is the section's own, though not one this driver uses.
  const bool ip4 = ToLower(tokens[1]) == "ip4";
  if (!ip4 && ToLower(tokens[1]) != "ip6") return;
  if (!ip4) {
    if (current_ != kNone && current_ != kSkipped) ownConnection_[current_] = true;
    return;
  }
  const std::string address = tokens[2].substr(0, tokens[2].find('/'));
  if (address.empty()) return;
  if (current_ == kNone) {
    sessionConnection_ = address;
  } else if (SDP_MEDIA_INFO* media = Current()) {
    media->connectionAddress = address;
    ownConnection_[current_] = true;
  }
}

bool CSDPResponseParser::NamesFirstFormat(std::string_view value) const {
  const size_t end = value.find_first_of(kBlanks);
  return !firstFormat_.empty() && value.substr(0, end) == firstFormat_;
}

void CSDPResponseParser::ParseAttribute(std::string_view value) {
  const size_t colon = value.find(':');
  const std::string name = ToLower(Trim(value.substr(0, colon), kBlanks));
  if (colon == std::string_view::npos) return;
  const std::string rest = Trim(value.substr(colon + 1), kBlanks);
  SDP_MEDIA_INFO* media = Current();
  if (media == nullptr) return;  // session level: nothing kept
  if (name == "control") {
    if (!rest.empty() && media->control.empty()) media->control = rest;
  } else if (name == "rtpmap") {
    ParseRtpMap(rest);
  } else if (name == "fmtp") {
    if (current_ == kVideo) ParseFormatParameters(rest);
  } else if (name == "x-dimensions") {
    const std::vector<std::string> entries = Split(rest, ",", false);
    if (entries.size() != 2) return;
    info_.width = ParseDecimal(Trim(entries[0], kBlanks));
    info_.height = ParseDecimal(Trim(entries[1], kBlanks));
  }
}

void CSDPResponseParser::ParseRtpMap(std::string_view value) {
  const std::vector<std::string> tokens = Split(value, kBlanks, true);
  if (tokens.size() < 2) return;
  // The first format of the m= line decides; other maps only stand in.
  const bool matches = NamesFirstFormat(value);
  SDP_MEDIA_INFO* media = Current();
  if (encodingMatched_ || (!matches && !media->encoding.empty())) return;
  media->encoding = tokens[1];
  encodingMatched_ = matches;
}

void CSDPResponseParser::ParseFormatParameters(std::string_view value) {
  const size_t blank = value.find_first_of(kBlanks);
  if (blank == std::string_view::npos) return;  // "a=fmtp:96" alone
  for (const std::string& item : Split(value.substr(blank), ";", true)) {
    const size_t equals = item.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = ToLower(Trim(std::string_view(item).substr(0, equals), kBlanks));
    std::string parameter = Trim(std::string_view(item).substr(equals + 1), kBlanks);
    if (parameter.size() > 1 && parameter.front() == '"' && parameter.back() == '"') {
      parameter = parameter.substr(1, parameter.size() - 2);
    }
    if (key == "sprop-parameter-sets") {
      ParseParameterSets(parameter);
    } else if (key == "config" && info_.config.empty()) {
      // RFC 3016 writes hexadecimal; some cameras write Base64.
      info_.config = AllHex(parameter) ? DecodeHex(parameter) : DecodeBase64(parameter);
    }
  }
}

void CSDPResponseParser::ParseParameterSets(const std::string& sets) {
  // Told apart by their NAL type, not their place: cameras list them in
  // either order, with other units among them. Whether a set reads is the
  // depacketizer's question; the stream's own sets win anyway.
  for (const std::string& entry : Split(sets, ",", true)) {
    std::vector<uint8_t> nal = DecodeBase64(entry);
    DropStartCode(nal);
    if (nal.empty() || (nal[0] & 0x80) != 0) continue;
    const uint8_t type = nal[0] & 0x1F;
    if (type == kNalSps && info_.sps.empty()) info_.sps = std::move(nal);
    if (type == kNalPps && info_.pps.empty()) info_.pps = std::move(nal);
  }
}

}  // namespace orbisan
