#include "rtsp/jpeg_header.h"

#include <algorithm>
#include <cstring>

namespace orbisan {
namespace {

// ITU-T T.81 table K.1 and K.2 in zigzag order.
constexpr uint8_t kLumaQuantizer[64] = {16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
                                        26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
                                        56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
                                        95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
constexpr uint8_t kChromaQuantizer[64] = {17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99,
                                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// ITU-T T.81 annex K.3: code counts per length (1 to 16 bits) and values.
constexpr uint8_t kLumaDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kChromaDcBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kLumaAcBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kLumaAcValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kChromaAcBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kChromaAcValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr size_t CountCodes(const uint8_t (&bits)[16]) {
  size_t n = 0;
  for (uint8_t b : bits) n += b;
  return n;
}
static_assert(CountCodes(kLumaDcBits) == sizeof(kDcValues));
static_assert(CountCodes(kChromaDcBits) == sizeof(kDcValues));
static_assert(CountCodes(kLumaAcBits) == sizeof(kLumaAcValues));
static_assert(CountCodes(kChromaAcBits) == sizeof(kChromaAcValues));

// SOI, APP0 (18), SOF0 (19), SOS (14), two DQT headers (5 each) and four DHT
// segments with their tables (2 + 2 + 1 + 16 + values each).
constexpr size_t kFixedSize = 2 + 18 + 19 + 14 + 2 * 5 + 4 * 21 + 2 * 12 + 2 * 162;
static_assert(kFixedSize == 495);
constexpr size_t kDriSize = 6;

class Writer {
 public:
  explicit Writer(uint8_t* out) : out_(out) {}
  void Byte(uint8_t b) { out_[pos_++] = b; }
  void Word(uint16_t w) {
    Byte(static_cast<uint8_t>(w >> 8));
    Byte(static_cast<uint8_t>(w));
  }
  void Bytes(const uint8_t* p, size_t n) {
    std::memcpy(out_ + pos_, p, n);
    pos_ += n;
  }
  void Marker(uint8_t m) {
    Byte(0xFF);
    Byte(m);
  }
  size_t Size() const { return pos_; }

 private:
  uint8_t* out_;
  size_t pos_ = 0;
};

void WriteQuantTable(Writer& w, uint8_t id, const uint8_t* table) {
  w.Marker(0xDB);
  w.Word(2 + 1 + 64);
  w.Byte(id);  // 8-bit precision
  w.Bytes(table, 64);
}

void WriteHuffmanTable(Writer& w, uint8_t classAndId, const uint8_t (&bits)[16], const uint8_t* values, size_t count) {
  w.Marker(0xC4);
  w.Word(static_cast<uint16_t>(2 + 1 + 16 + count));
  w.Byte(classAndId);
  w.Bytes(bits, 16);
  w.Bytes(values, count);
}

}  // namespace

void CJpegHeader::MakeTables(int q, uint8_t* out) {
  q = std::clamp(q, 1, 99);
  const int factor = q < 50 ? 5000 / q : 200 - 2 * q;
  for (int i = 0; i < 64; ++i) {
    out[i] = static_cast<uint8_t>(std::clamp((kLumaQuantizer[i] * factor + 50) / 100, 1, 255));
    out[64 + i] = static_cast<uint8_t>(std::clamp((kChromaQuantizer[i] * factor + 50) / 100, 1, 255));
  }
}

size_t CJpegHeader::Size(const Params& params) {
  return kFixedSize + (params.tableSize & ~size_t{1}) + (params.restartInterval ? kDriSize : 0);
}

size_t CJpegHeader::Write(const Params& params, uint8_t* out, size_t capacity) {
  if (!out || !params.tables || (params.tableSize != 64 && params.tableSize != 128)) return 0;
  if (params.width == 0 || params.height == 0) return 0;
  const size_t size = Size(params);
  if (size > kMaxSize || size > capacity) return 0;
  const bool twoTables = params.tableSize == 128;

  Writer w(out);
  w.Marker(0xD8);  // SOI

  w.Marker(0xE0);  // APP0: JFIF 1.1, no units, 1:1, no thumbnail
  w.Word(16);
  w.Bytes(reinterpret_cast<const uint8_t*>("JFIF"), 5);
  w.Word(0x0101);
  w.Byte(0);
  w.Word(1);
  w.Word(1);
  w.Byte(0);
  w.Byte(0);

  if (params.restartInterval) {
    w.Marker(0xDD);
    w.Word(4);
    w.Word(params.restartInterval);
  }

  WriteQuantTable(w, 0, params.tables);
  if (twoTables) WriteQuantTable(w, 1, params.tables + 64);

  // With one table the chrominance components use it too: a reference to a
  // table that is not in the picture would make it undecodable.
  const uint8_t chromaTable = twoTables ? 1 : 0;
  w.Marker(0xC0);  // SOF0
  w.Word(17);
  w.Byte(8);
  w.Word(params.height);
  w.Word(params.width);
  w.Byte(3);
  w.Byte(1);
  w.Byte((params.type & 1) ? 0x22 : 0x21);
  w.Byte(0);
  w.Byte(2);
  w.Byte(0x11);
  w.Byte(chromaTable);
  w.Byte(3);
  w.Byte(0x11);
  w.Byte(chromaTable);

  WriteHuffmanTable(w, 0x00, kLumaDcBits, kDcValues, sizeof(kDcValues));
  WriteHuffmanTable(w, 0x10, kLumaAcBits, kLumaAcValues, sizeof(kLumaAcValues));
  WriteHuffmanTable(w, 0x01, kChromaDcBits, kDcValues, sizeof(kDcValues));
  WriteHuffmanTable(w, 0x11, kChromaAcBits, kChromaAcValues, sizeof(kChromaAcValues));

  w.Marker(0xDA);  // SOS
  w.Word(12);
  w.Byte(3);
  w.Byte(1);
  w.Byte(0x00);
  w.Byte(2);
  w.Byte(0x11);
  w.Byte(3);
  w.Byte(0x11);
  w.Byte(0);
  w.Byte(63);
  w.Byte(0);
  return w.Size();
}

}  // namespace orbisan
