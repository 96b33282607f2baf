#include "audio/mulaw.h"

#include <array>

namespace orbisan {

namespace {

constexpr int16_t Expand(uint8_t code) {
  const uint8_t u = static_cast<uint8_t>(~code);
  const int exponent = (u >> 4) & 7;
  const int mantissa = u & 15;
  const int magnitude = ((2 * mantissa + 33) << exponent) - 33;
  return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

constexpr std::array<int16_t, 256> MakeTable() {
  std::array<int16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = Expand(static_cast<uint8_t>(i));
  return table;
}

constexpr std::array<int16_t, 256> kTable = MakeTable();

}  // namespace

void ExpandMuLaw(const uint8_t* codes, size_t count, uint8_t* samples) {
  for (size_t i = 0; i < count; ++i) {
    const uint16_t sample = static_cast<uint16_t>(kTable[codes[i]]);
    samples[2 * i] = static_cast<uint8_t>(sample);
    samples[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
  }
}

}  // namespace orbisan
