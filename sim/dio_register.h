// The camera's digital I/O register, one per video channel: eight inputs set
// from outside (the in-process API or the simulate command's pattern) and
// eight outputs that DIO_OUTPUT writes.
//
//   DIO_STATUS            -> DIO_STATUS='0x05'   (bit i = input i)
//   DIO_OUTPUT=0x03       -> OK: DIO_OUTPUT=0x03
//   DIO_OUTPUT            -> DIO_OUTPUT='0x03'
//
// Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strandline::sim {

class DioRegister {
 public:
  explicit DioRegister(int channels);

  void SetInputs(uint32_t mask, int channel = 1);
  uint32_t Inputs(int channel = 1) const;
  uint32_t Outputs(int channel = 1) const;
  // DIO_OUTPUT commands accepted since start.
  int OutputWrites() const;

  static bool Serves(std::string_view name);
  // Appends the answer line to one DIO item of a request.
  void Answer(std::string_view name, const std::optional<std::string>& value, int channel, std::string& out);

 private:
  struct Channel {
    uint32_t inputs = 0;
    uint32_t outputs = 0;
  };
  mutable std::mutex mutex_;
  std::vector<Channel> channels_;
  int output_writes_ = 0;
};

}  // namespace strandline::sim
