#include "platform/kmpeg4_media_config.h"

#include <cstring>

namespace orbisan {

namespace {

void PutU32(KMediaConfig& out, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool BuildKMediaConfig(const KMediaConfigFields& fields, KMediaConfig& out, std::string& tooLong) {
  out.fill(0);
  if (fields.address.size() > fields.maxAddress) tooLong = "device address";
  if (fields.user.size() > fields.maxText) tooLong = "user name";
  if (fields.password.size() > fields.maxText) tooLong = "password";
  if (!tooLong.empty()) return false;
  PutU32(out, 0, 5);
  out[4] = static_cast<uint8_t>(fields.input);
  out[5] = static_cast<uint8_t>(fields.input >> 8);
  std::memcpy(out.data() + 8, fields.address.data(), fields.address.size());
  std::memcpy(out.data() + 296, fields.user.data(), fields.user.size());
  std::memcpy(out.data() + 360, fields.password.data(), fields.password.size());
  PutU32(out, 424, fields.ports[0]);
  PutU32(out, 428, fields.ports[1]);
  PutU32(out, 432, fields.ports[2]);
  // The HTTP port is a u32 for streaming and a u16 followed by zeros for
  // audio: the same bytes for any port number.
  PutU32(out, 448, fields.httpPort & 0xFFFFu);
  return true;
}

}  // namespace orbisan
