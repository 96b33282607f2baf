#include "sim/rtsp_quirk_text.h"

#include <glib.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace strandline::sim {
namespace {

std::string Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return "";
  return std::string(text.substr(begin, text.find_last_not_of(" \t") - begin + 1));
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + 1) {
    parts.push_back(text.substr(at, next - at));
  }
  parts.push_back(text.substr(at));
  return parts;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) text += (i ? separator : "") + parts[i];
  return text;
}

std::string Base64(const std::string& bytes) {
  gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string out(text);
  g_free(text);
  return out;
}

std::string Unbase64(const std::string& text) {
  gsize length = 0;
  guchar* bytes = g_base64_decode(text.c_str(), &length);
  std::string out(reinterpret_cast<const char*>(bytes), length);
  g_free(bytes);
  return out;
}

// x264's baseline parameter sets of a 320x240 picture.
constexpr const char* kOtherSizeSets = "Z0LAFdoFB+wFqDAwNSgAAAMACAAAAwHkeLF1,aM48gA==";
// Valid Base64 of bytes that are no parameter sets ("garbage", "noise").
constexpr const char* kGarbageSets = "Z2FyYmFnZQ==,bm9pc2U=";

// The parameters of the video format line, changed as the quirks say.
std::string QuirkFormat(const std::string& line, const QuirkSet& quirks) {
  const size_t blank = line.find(' ');
  if (blank == std::string::npos) return line;
  if (quirks.Has(Quirk::kEmptyFmtp)) return line.substr(0, blank);
  std::vector<std::string> kept;
  for (std::string& parameter : Split(line.substr(blank + 1), ';')) {
    const std::string name = Trim(parameter.substr(0, parameter.find('=')));
    const std::string value = parameter.find('=') == std::string::npos ? "" : parameter.substr(parameter.find('=') + 1);
    if (name == "sprop-parameter-sets") {
      if (quirks.Has(Quirk::kNoSprop)) continue;
      if (quirks.Has(Quirk::kBadSprop)) parameter = name + "=" + kGarbageSets;
      if (quirks.Has(Quirk::kSpropOtherSize)) parameter = name + "=" + kOtherSizeSets;
      if (quirks.Has(Quirk::kSpropStartCode)) {
        std::vector<std::string> sets = Split(value, ',');
        for (std::string& set : sets) set = Base64(std::string("\0\0\0\1", 4) + Unbase64(set));
        parameter = name + "=" + Join(sets, ",");
      }
    }
    if (name == "profile-level-id" && quirks.Has(Quirk::kBadProfileLevelId)) parameter = name + "=zz42q";
    kept.push_back(parameter);
  }
  return line.substr(0, blank + 1) + Join(kept, ";");
}

}  // namespace

size_t RtspMessage::Extent(std::string_view text) {
  const size_t end = text.find("\r\n\r\n");
  if (end == std::string_view::npos) return 0;
  size_t length = 0;
  for (size_t at = text.find("\r\n"); at < end; at = text.find("\r\n", at + 2)) {
    std::string_view line = text.substr(at + 2, text.find("\r\n", at + 2) - at - 2);
    if (line.size() > 15 && strncasecmp(line.data(), "content-length:", 15) == 0) {
      length = static_cast<size_t>(std::strtoul(std::string(line.substr(15)).c_str(), nullptr, 10));
    }
  }
  return end + 4 + length <= text.size() ? end + 4 + length : 0;
}

RtspMessage RtspMessage::Parse(std::string_view text) {
  RtspMessage message;
  const size_t end = text.find("\r\n\r\n");
  const std::string head(text.substr(0, end));
  message.body = std::string(text.substr(end + 4));
  std::vector<std::string> lines = Split(head, '\n');
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (i == 0) {
      message.start = line;
    } else if (line.find(':') != std::string::npos) {
      message.headers.emplace_back(Trim(line.substr(0, line.find(':'))), Trim(line.substr(line.find(':') + 1)));
    }
  }
  return message;
}

std::string RtspMessage::Text(bool trailing_blanks) const {
  std::string text = start + "\r\n";
  for (const auto& [name, value] : headers) {
    if (strcasecmp(name.c_str(), "Content-Length") == 0) continue;
    text += name + ": " + value + (trailing_blanks ? "  \t" : "") + "\r\n";
  }
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + (trailing_blanks ? " \t" : "") + "\r\n";
  return text + "\r\n" + body;
}

const std::string* RtspMessage::Get(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return &value;
  }
  return nullptr;
}

void RtspMessage::Set(std::string_view name, std::string value) {
  for (auto& [key, old] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
      old = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::string(name), std::move(value));
}

void RtspMessage::Remove(std::string_view name) {
  std::erase_if(headers, [name](const auto& header) {
    return header.first.size() == name.size() && strncasecmp(header.first.data(), name.data(), name.size()) == 0;
  });
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

std::string QuirkDescription(const std::string& sdp, const QuirkSet& quirks) {
  const bool odd = quirks.Has(Quirk::kSdpOddLines);
  std::vector<std::string> session, video, rest;
  std::vector<std::string>* section = &session;
  for (std::string line : Split(sdp, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.starts_with("m=")) section = line.starts_with("m=video") ? &video : &rest;
    if (section == &video && line.starts_with("a=fmtp:")) line = QuirkFormat(line, quirks);
    if (section == &video && line.starts_with("a=control:")) {
      if (quirks.Has(Quirk::kAbsolutePathControl)) line = "a=control:/media/video1";
      if (quirks.Has(Quirk::kAbsoluteControlOtherHost)) line = "a=control:rtsp://192.0.2.7:554/stream=0";
    }
    if (odd && line.starts_with("o=")) continue;
    section->push_back(line);
    if (odd && line.starts_with("s=")) session.push_back("s=A second session name");
    if (odd && line.starts_with("t=")) session.back() = "t=now";
  }
  if (odd) {
    session.push_back("c=IN IP4");
    // The video section's attributes in another order, two of them twice.
    std::stable_partition(video.begin() + (video.empty() ? 0 : 1), video.end(),
                          [](const std::string& l) { return l.starts_with("a=control") || l.starts_with("a=fmtp"); });
    for (const std::string& line : std::vector<std::string>(video)) {
      if (line.starts_with("a=rtpmap") || line.starts_with("a=fmtp")) video.push_back(line);
    }
    rest.push_back("m=x-vendor-metadata");
    rest.push_back("a=x-vendor:1");
  }
  std::string text;
  for (auto* part : {&session, &video, &rest}) {
    for (const std::string& line : *part) text += line + (odd ? " \t" : "") + "\r\n";
  }
  return text;
}

std::string TransportParameter(const std::string& value, std::string_view name) {
  for (const std::string& part : Split(value, ';')) {
    const size_t equals = part.find('=');
    if (equals != std::string::npos &&
        strcasecmp(Trim(part.substr(0, equals)).c_str(), std::string(name).c_str()) == 0) {
      return Trim(part.substr(equals + 1));
    }
  }
  return "";
}

std::string WithTransportParameter(const std::string& value, std::string_view name, const std::string& replacement) {
  std::vector<std::string> parts = Split(value, ';');
  for (std::string& part : parts) {
    const size_t equals = part.find('=');
    if (equals != std::string::npos &&
        strcasecmp(Trim(part.substr(0, equals)).c_str(), std::string(name).c_str()) == 0) {
      part = part.substr(0, equals + 1) + replacement;
    }
  }
  return Join(parts, ";");
}

std::string QuirkTransport(const std::string& value, const TransportAnswer& answer, const QuirkSet& quirks) {
  std::vector<std::string> parts = Split(value, ';');
  if (parts.empty()) return value;
  std::string profile = Trim(parts[0]);
  if (quirks.Has(Quirk::kTcpProfileWithoutTcp) && profile == "RTP/AVP/TCP") profile = "RTP/AVP";
  const bool odd = quirks.Has(Quirk::kTransportOdd);
  std::vector<std::string> kept;
  bool ssrc = false;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string part = Trim(parts[i]);
    std::string name = part.substr(0, part.find('='));
    std::string setting = part.find('=') == std::string::npos ? "" : part.substr(part.find('=') + 1);
    if (name == "server_port" && quirks.Has(Quirk::kNoServerPort)) continue;
    if (name == "client_port" && !answer.client_port.empty()) setting = answer.client_port;
    if (name == "server_port" && !answer.server_port.empty()) setting = answer.server_port;
    if (name == "interleaved" && !answer.interleaved.empty()) setting = answer.interleaved;
    if (name == "ssrc") ssrc = true;
    if (odd) {
      // Mixed case, quoted ranges, a short ssrc padded with blanks.
      for (size_t c = 0; c < name.size(); ++c) {
        if (c == 0 || name[c - 1] == '_')
          name[c] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[c])));
      }
      if (name == "Unicast") name = "UNICAST";
      if (name == "Ssrc") setting = "   1A2B";
      if (setting.find('-') != std::string::npos) setting = "\"" + setting + "\"";
    }
    kept.push_back(setting.empty() && part.find('=') == std::string::npos ? name : name + "=" + setting);
  }
  if (odd) {
    if (!ssrc) kept.push_back("SSRC=   1A2B");
    std::reverse(kept.begin(), kept.end());
    for (char& c : profile) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  kept.insert(kept.begin(), profile);
  return Join(kept, ";");
}

std::string SessionIdOf(const std::string& value) {
  std::string id = Trim(value.substr(0, value.find(';')));
  if (id.starts_with(kOddSessionPrefix)) id.erase(0, kOddSessionPrefix.size());
  return id;
}

}  // namespace strandline::sim
