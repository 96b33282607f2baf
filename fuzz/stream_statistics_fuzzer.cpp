// The host's reading of the driver's stream statistics text: any text is
// read without harm, and what the driver writes is read back as written,
// whatever its failure text holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/stream_statistics_text.h"
#include "host/stream_health.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  strandline::host::StreamHealth health;
  strandline::host::ParseStreamHealth(text, health);
  if (size < 16) return 0;

  orbisan::CHANNEL_STATISTICS written;
  uint64_t numbers[2];
  std::memcpy(numbers, data, sizeof numbers);
  written.rtpLost = numbers[0] >> 12;  // kept below 2^53: the reader goes through a double
  written.frames = numbers[1] >> 12;
  written.bytes = numbers[0] ^ numbers[1];
  written.bytes >>= 12;
  written.reconnects = data[0];
  if (data[1] & 1) written.jitterMs = data[2] / 8.0;
  if (data[1] & 2) written.cameraClockOffsetMs = static_cast<int8_t>(data[3]) * 1000;
  written.lastFailure = text.substr(16);
  for (char& c : written.lastFailure) {
    if (c == '\0') c = ' ';  // the host's text ends at the first 0
  }
  if (written.lastFailure.find(" last_failure=") != std::string::npos) return 0;
  strandline::host::StreamHealth read;
  if (!strandline::host::ParseStreamHealth(orbisan::StreamStatisticsText(written), read)) std::abort();
  if (read.rtpLost != written.rtpLost || read.frames != written.frames || read.bytes != written.bytes ||
      read.reconnects != written.reconnects || read.failure != written.lastFailure ||
      read.jitterMs.has_value() != written.jitterMs.has_value() ||
      read.cameraClockOffsetMs != written.cameraClockOffsetMs) {
    std::abort();
  }
  return 0;
}
