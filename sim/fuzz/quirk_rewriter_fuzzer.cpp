// libFuzzer target for the quirk relay's rewriting: the first two bytes pick
// two quirks, the rest is read as RTSP text and, cut at two-byte lengths, as
// RTP and RTCP datagrams.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/camera_quirks.h"
#include "sim/rtp_quirks.h"
#include "sim/rtsp_quirk_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace strandline::sim;
  if (size < 2) return 0;
  const auto& all = AllQuirks();
  QuirkSet quirks;
  quirks.Add(all[data[0] % all.size()].quirk);
  quirks.Add(all[data[1] % all.size()].quirk);
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  if (const size_t extent = RtspMessage::Extent(text)) {
    RtspMessage message = RtspMessage::Parse(std::string_view(text).substr(0, extent));
    if (message.Text().find("\r\n\r\n") == std::string::npos) __builtin_trap();
    if (const std::string* transport = message.Get("Transport")) {
      QuirkTransport(*transport, {"1-2", "3-4", "6-7"}, quirks);
      WithTransportParameter(*transport, "client_port", "5-6");
    }
    if (const std::string* session = message.Get("Session")) SessionIdOf(*session);
    QuirkDescription(message.body, quirks);
  }
  QuirkDescription(text, quirks);
  RtpQuirkStream stream(quirks);
  std::vector<RtpQuirkStream::Out> out;
  const auto now = RtpQuirkStream::Clock::now();
  for (size_t at = 0; at + 2 <= text.size();) {
    const size_t length = static_cast<uint8_t>(text[at]) << 8 | static_cast<uint8_t>(text[at + 1]);
    const std::string_view datagram = std::string_view(text).substr(at + 2, length);
    if (length % 2) {
      stream.Rtcp(datagram, &out);
    } else {
      stream.Rtp(datagram, now, &out);
    }
    at += 2 + datagram.size();
  }
  stream.Tick(now + std::chrono::seconds(2), &out);
  for (const auto& packet : out) {
    if (packet.bytes.size() > 65535) __builtin_trap();
  }
  return 0;
}
