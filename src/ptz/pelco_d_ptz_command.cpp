#include "ptz/pelco_d_ptz_command.h"

#include "runtime/format.h"

namespace orbisan {

CPelcoDPtzCommand& CPelcoDPtzCommand::Command1(uint8_t set, uint8_t clear) {
  command1_ = static_cast<uint8_t>((command1_ & ~clear) | set);
  return *this;
}

CPelcoDPtzCommand& CPelcoDPtzCommand::Command2(uint8_t set, uint8_t clear) {
  command2_ = static_cast<uint8_t>((command2_ & ~clear) | set);
  return *this;
}

CPelcoDPtzCommand& CPelcoDPtzCommand::Data1(uint8_t value) {
  data1_ = value;
  return *this;
}

CPelcoDPtzCommand& CPelcoDPtzCommand::Data2(uint8_t value) {
  data2_ = value;
  return *this;
}

std::array<uint8_t, 7> CPelcoDPtzCommand::Bytes() const {
  const auto sum = static_cast<uint8_t>(address_ + command1_ + command2_ + data1_ + data2_);
  return {kSync, address_, command1_, command2_, data1_, data2_, sum};
}

std::string CPelcoDPtzCommand::Text() const {
  std::string text;
  for (uint8_t byte : Bytes()) text += Format("%.2X", byte);
  return text;
}

}  // namespace orbisan
