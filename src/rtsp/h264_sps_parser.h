#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbisan {

// Picture size from an H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1).
class CH264SpsParser {
 public:
  // nal: the SPS NAL unit from its header byte on, as it appears in the
  // stream (emulation prevention bytes are removed here). True when the set
  // was read completely and gives a non-empty picture; width and height are
  // the cropped picture size.
  bool Parse(const uint8_t* nal, size_t size, uint32_t& width, uint32_t& height);

 private:
  std::vector<uint8_t> rbsp_;  // reused from call to call
};

}  // namespace orbisan
