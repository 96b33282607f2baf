#pragma once

// Writes bit strings for handcrafted H.264 and MPEG-4 headers.

#include <cstdint>
#include <vector>

namespace orbisan::test {

class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) Bit((value >> i) & 1);
    return *this;
  }
  BitWriter& Bit(int bit) {
    if (used_ == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
    used_ = (used_ + 1) % 8;
    return *this;
  }
  BitWriter& UE(uint32_t value) {
    const uint64_t v = uint64_t{value} + 1;
    int length = 0;
    while ((v >> length) > 1) ++length;
    Bits(0, length);
    return Bits(v, length + 1);
  }
  BitWriter& SE(int32_t value) {
    return UE(value > 0 ? static_cast<uint32_t>(2 * value - 1) : static_cast<uint32_t>(-2 * int64_t{value}));
  }
  // rbsp_stop_one_bit and alignment.
  std::vector<uint8_t> Finish() {
    Bit(1);
    while (used_ != 0) Bit(0);
    return bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
  int used_ = 0;
};

// NAL unit from header byte and RBSP, with emulation prevention bytes.
inline std::vector<uint8_t> EscapeNal(uint8_t header, const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> out = {header};
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

// Baseline SPS for a picture of the given macroblock counts.
inline std::vector<uint8_t> BaselineSps(uint32_t widthMbs, uint32_t heightMbs) {
  BitWriter w;
  w.Bits(66, 8).Bits(0, 8).Bits(30, 8).UE(0).UE(0).UE(0).UE(2).UE(1).Bit(0);
  w.UE(widthMbs - 1).UE(heightMbs - 1).Bit(1).Bit(1).Bit(0).Bit(0);
  return EscapeNal(0x67, w.Finish());
}

}  // namespace orbisan::test
