#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/kmpeg4_api.h"

namespace orbisan {

// The connection record the vendor library takes in KSetMediaConfig:
// 468 bytes, zero but for these fields, integers little-endian.
struct KMediaConfigFields {
  uint16_t input = 1;  // input number on the device, from 1
  std::string address;
  std::string user;
  std::string password;
  uint32_t ports[3] = {6000, 6002, 6001};  // at 424, 428, 432
  uint32_t httpPort = 80;
  // Longest texts that fit (the field sizes less the terminating zero, or
  // less for callers that keep a narrower limit).
  size_t maxAddress = 15;
  size_t maxText = 63;
};

using KMediaConfig = std::array<uint8_t, kKMediaConfigSize>;

// False with the offending field's name in tooLong when a text does not fit:
// a shortened address or password would reach a different device or fail
// its login in a way that is hard to see from outside.
bool BuildKMediaConfig(const KMediaConfigFields& fields, KMediaConfig& out, std::string& tooLong);

}  // namespace orbisan
