#include "sim/pelco_d_decoder.h"

namespace strandline::sim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<PelcoDMessage> Fail(std::string* error, const char* reason) {
  if (error) *error = reason;
  return std::nullopt;
}

// -1, 0 or 1 from a pair of bits of which at most one may be set.
bool Axis(int byte, int minus_bit, int plus_bit, int& out) {
  const bool minus = (byte & minus_bit) != 0;
  const bool plus = (byte & plus_bit) != 0;
  out = plus ? 1 : (minus ? -1 : 0);
  return !(minus && plus);
}

}  // namespace

std::optional<PelcoDMessage> DecodePelcoD(std::string_view hex, std::string* error) {
  if (hex.size() != 14) return Fail(error, "not 14 digits");
  PelcoDMessage m;
  for (size_t i = 0; i < 7; ++i) {
    const int high = HexDigit(hex[2 * i]);
    const int low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return Fail(error, "not hexadecimal");
    m.bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  const auto& b = m.bytes;
  if (b[0] != 0xFF) return Fail(error, "no sync byte");
  int sum = 0;
  for (size_t i = 1; i <= 5; ++i) sum += b[i];
  if (sum % 256 != b[6]) return Fail(error, "bad checksum");
  m.address = b[1];
  const int command1 = b[2];
  const int command2 = b[3];
  if (command2 & 0x01) {
    // Extended commands carry no motion bits in command 1.
    if (command1 != 0) return Fail(error, "extended command with bits in command 1");
    switch (command2) {
      case 0x03:
        m.extended = PelcoDMessage::Extended::kSetPreset;
        break;
      case 0x05:
        m.extended = PelcoDMessage::Extended::kClearPreset;
        break;
      case 0x07:
        m.extended = PelcoDMessage::Extended::kGoToPreset;
        break;
      case 0x25:
        m.extended = PelcoDMessage::Extended::kSetZoomSpeed;
        break;
      case 0x27:
        m.extended = PelcoDMessage::Extended::kSetFocusSpeed;
        break;
      case 0x2B:
        m.extended = PelcoDMessage::Extended::kAutoFocus;
        break;
      case 0x2D:
        m.extended = PelcoDMessage::Extended::kAutoIris;
        break;
      default:
        return Fail(error, "unknown extended command");
    }
    m.argument = b[5];
    return m;
  }
  // Standard: command 1 bit 0 focus near, 1 iris open, 2 iris close;
  // command 2 bit 1 right, 2 left, 3 up, 4 down, 5 tele, 6 wide, 7 focus far.
  int near = 0;
  int far = 0;
  Axis(command1, 0, 0x01, near);
  Axis(command2, 0, 0x80, far);
  if (near && far) return Fail(error, "focus near and far at once");
  m.focus = far ? 1 : (near ? -1 : 0);
  if (!Axis(command1, 0x04, 0x02, m.iris) || !Axis(command2, 0x04, 0x02, m.pan) ||
      !Axis(command2, 0x10, 0x08, m.tilt) || !Axis(command2, 0x40, 0x20, m.zoom)) {
    return Fail(error, "contrary motions at once");
  }
  m.pan_speed = b[4];
  m.tilt_speed = b[5];
  return m;
}

}  // namespace strandline::sim
