#include "sim/dio_register.h"

#include <algorithm>
#include <cstdio>

namespace strandline::sim {

namespace {

constexpr uint32_t kRegisterBits = 0xFF;

std::string Hex(uint32_t mask) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%02x", mask);
  return text;
}

// "0x" and one to eight hexadecimal digits.
bool ParseMask(const std::string& text, uint32_t& mask) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  uint32_t value = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  mask = value;
  return true;
}

}  // namespace

DioRegister::DioRegister(int channels) : channels_(static_cast<size_t>(std::max(channels, 1))) {}

void DioRegister::SetInputs(uint32_t mask, int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (channel < 1 || channel > static_cast<int>(channels_.size())) return;
  channels_[static_cast<size_t>(channel - 1)].inputs = mask & kRegisterBits;
}

uint32_t DioRegister::Inputs(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (channel < 1 || channel > static_cast<int>(channels_.size())) return 0;
  return channels_[static_cast<size_t>(channel - 1)].inputs;
}

uint32_t DioRegister::Outputs(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (channel < 1 || channel > static_cast<int>(channels_.size())) return 0;
  return channels_[static_cast<size_t>(channel - 1)].outputs;
}

int DioRegister::OutputWrites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_writes_;
}

bool DioRegister::Serves(std::string_view name) { return name == "DIO_STATUS" || name == "DIO_OUTPUT"; }

void DioRegister::Answer(std::string_view name, const std::optional<std::string>& value, int channel,
                         std::string& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool known = channel >= 1 && channel <= static_cast<int>(channels_.size());
  uint32_t mask = 0;
  if (known && !value) {
    Channel& c = channels_[static_cast<size_t>(channel - 1)];
    out.append(name).append("='").append(Hex(name == "DIO_STATUS" ? c.inputs : c.outputs)).append("'\r\n");
    return;
  }
  if (known && name == "DIO_OUTPUT" && ParseMask(*value, mask) && mask <= kRegisterBits) {
    channels_[static_cast<size_t>(channel - 1)].outputs = mask;
    ++output_writes_;
    out.append("OK: DIO_OUTPUT=").append(*value).append("\r\n");
    return;
  }
  out.append("ERROR: ").append(name);
  if (value) out.append("=").append(*value);
  out.append("\r\n");
}

}  // namespace strandline::sim
