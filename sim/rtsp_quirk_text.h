// RTSP messages as text, and the answer shapes of quirky cameras: their
// descriptions, Transport and Session headers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/camera_quirks.h"

namespace strandline::sim {

struct RtspMessage {
  std::string start;  // the request or status line
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // Length of the whole message at the front of text; 0 while it is incomplete.
  static size_t Extent(std::string_view text);
  static RtspMessage Parse(std::string_view text);
  // With trailing_blanks every header value ends in blanks and a tab.
  std::string Text(bool trailing_blanks = false) const;
  const std::string* Get(std::string_view name) const;
  void Set(std::string_view name, std::string value);
  void Remove(std::string_view name);
};

void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// The description as the quirks have it.
std::string QuirkDescription(const std::string& sdp, const QuirkSet& quirks);

// A SETUP answer's Transport value with the relay's ports or channels put in
// and the quirks' shape. Empty texts leave the parameter as it is.
struct TransportAnswer {
  std::string client_port;  // "a-b" the client asked for
  std::string server_port;  // "a-b" where the relay listens
  std::string interleaved;  // "a-b" the relay sends on
};
std::string QuirkTransport(const std::string& value, const TransportAnswer& answer, const QuirkSet& quirks);

// The value of a parameter in a Transport text ("client_port"), or "".
std::string TransportParameter(const std::string& value, std::string_view name);
// The text with that parameter's value replaced.
std::string WithTransportParameter(const std::string& value, std::string_view name, const std::string& replacement);

// odd-session: the id the client sees, and back.
inline constexpr std::string_view kOddSessionPrefix = "$-_.+";
std::string SessionIdOf(const std::string& value);

}  // namespace strandline::sim
