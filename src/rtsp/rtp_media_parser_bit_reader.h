#pragma once

#include <cstddef>
#include <cstdint>

namespace orbisan {

// Reads a bit string most significant bit first, with the Exp-Golomb codes
// of H.264. Reading past the end yields zero bits and sets the overrun flag,
// so a parser can read a whole header and check once at the end.
class CBitReader {
 public:
  CBitReader(const uint8_t* data, size_t size) : data_(data), bits_(size * 8) {}

  uint32_t ReadBits(unsigned count) {
    uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) value = (value << 1) | ReadBit();
    return value;
  }
  bool ReadFlag() { return ReadBit() != 0; }
  void SkipBits(size_t count) {
    if (count > bits_ - position_) {
      position_ = bits_;
      overrun_ = true;
    } else {
      position_ += count;
    }
  }
  // ue(v). Codes longer than 32 bits do not fit and count as an overrun.
  uint32_t ReadUE() {
    unsigned zeros = 0;
    while (ReadBit() == 0) {
      if (overrun_ || ++zeros > 31) {
        overrun_ = true;
        return 0;
      }
    }
    const uint64_t value = (uint64_t{1} << zeros) - 1 + ReadBits(zeros);
    return static_cast<uint32_t>(value);
  }
  // se(v).
  int32_t ReadSE() {
    const uint32_t code = ReadUE();
    const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
    return static_cast<int32_t>((code & 1) ? magnitude : -magnitude);
  }
  bool Overrun() const { return overrun_; }
  size_t BitsLeft() const { return bits_ - position_; }

 private:
  uint32_t ReadBit() {
    if (position_ >= bits_) {
      overrun_ = true;
      return 0;
    }
    const uint32_t bit = (data_[position_ >> 3] >> (7 - (position_ & 7))) & 1;
    ++position_;
    return bit;
  }

  const uint8_t* data_;
  size_t bits_;
  size_t position_ = 0;
  bool overrun_ = false;
};

}  // namespace orbisan
