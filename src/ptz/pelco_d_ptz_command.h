#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orbisan {

// One Pelco-D message as it goes out on the serial line: sync, address,
// command 1, command 2, data 1, data 2, checksum.
class CPelcoDPtzCommand {
 public:
  static constexpr uint8_t kSync = 0xFF;
  static constexpr uint8_t kAddress = 1;

  CPelcoDPtzCommand() = default;
  virtual ~CPelcoDPtzCommand() = default;
  CPelcoDPtzCommand(const CPelcoDPtzCommand&) = default;
  CPelcoDPtzCommand& operator=(const CPelcoDPtzCommand&) = default;

  // Sets bits of command 1 or 2 and clears the opposite bit of the pair, so
  // that a message never asks for two contrary motions.
  CPelcoDPtzCommand& Command1(uint8_t set, uint8_t clear = 0);
  CPelcoDPtzCommand& Command2(uint8_t set, uint8_t clear = 0);
  CPelcoDPtzCommand& Data1(uint8_t value);
  CPelcoDPtzCommand& Data2(uint8_t value);

  // The seven bytes with the checksum filled in.
  std::array<uint8_t, 7> Bytes() const;
  // The seven bytes as fourteen upper-case hexadecimal digits.
  std::string Text() const;

 private:
  uint8_t address_ = kAddress;
  uint8_t command1_ = 0;
  uint8_t command2_ = 0;
  uint8_t data1_ = 0;
  uint8_t data2_ = 0;
};

// Pelco-D bits and the extended commands the driver uses.
namespace pelco {
inline constexpr uint8_t kFocusNear = 0x01;  // command 1
inline constexpr uint8_t kIrisOpen = 0x02;   // command 1
inline constexpr uint8_t kIrisClose = 0x04;  // command 1
inline constexpr uint8_t kRight = 0x02;      // command 2
inline constexpr uint8_t kLeft = 0x04;
inline constexpr uint8_t kUp = 0x08;
inline constexpr uint8_t kDown = 0x10;
inline constexpr uint8_t kZoomTele = 0x20;
inline constexpr uint8_t kZoomWide = 0x40;
inline constexpr uint8_t kFocusFar = 0x80;
inline constexpr uint8_t kSetPreset = 0x03;
inline constexpr uint8_t kClearPreset = 0x05;
inline constexpr uint8_t kGoToPreset = 0x07;
inline constexpr uint8_t kSetZoomSpeed = 0x25;
inline constexpr uint8_t kSetFocusSpeed = 0x27;
inline constexpr uint8_t kAutoFocus = 0x2B;
inline constexpr uint8_t kAutoIris = 0x2D;
// The preset that takes the head back to its widest view.
inline constexpr uint8_t kUnzoomPreset = 95;
}  // namespace pelco

}  // namespace orbisan
