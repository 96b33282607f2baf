#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orbisan {

// Largest result DecodeBase64 gives; a longer one comes back empty.
constexpr size_t kMaxBase64Decoded = 256;

// Decodes the standard alphabet; other characters ("=" included) are
// skipped and a NUL ends the text. Used for parameter sets in descriptions.
std::vector<uint8_t> DecodeBase64(const std::string& text);

// Standard alphabet with "=" padding.
std::string EncodeBase64(const uint8_t* data, size_t length);
std::string EncodeBase64(const std::string& text);

}  // namespace orbisan
