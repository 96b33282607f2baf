// Reads the Pelco-D messages that reach a camera's serial port as
// "SERIAL_HEX=" text: fourteen hexadecimal digits, seven bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace strandline::sim {

struct PelcoDMessage {
  std::array<uint8_t, 7> bytes{};  // as received: sync, address, command 1/2, data 1/2, checksum
  int address = 0;
  // A standard message: the motion the head is to make from now on.
  int pan = 0;    // -1 left, 1 right
  int tilt = 0;   // -1 down, 1 up
  int zoom = 0;   // -1 wide, 1 tele
  int focus = 0;  // -1 near, 1 far
  int iris = 0;   // -1 close, 1 open
  int pan_speed = 0;
  int tilt_speed = 0;
  // An extended message (odd command 2) with its argument (data 2).
  enum class Extended {
    kNone,
    kSetPreset,
    kClearPreset,
    kGoToPreset,
    kSetZoomSpeed,
    kSetFocusSpeed,
    kAutoFocus,
    kAutoIris
  };
  Extended extended = Extended::kNone;
  int argument = 0;
};

// The message, or nothing with the reason in error: wrong length, a
// non-hexadecimal digit, no sync byte, a bad checksum, contrary motions
// (left and right at once) or an extended command the head does not know.
std::optional<PelcoDMessage> DecodePelcoD(std::string_view hex, std::string* error = nullptr);

}  // namespace strandline::sim
