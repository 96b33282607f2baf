#include <cctype>

#include "camera/h_utils.h"
#include "device/stream_kind_settings.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

// Up to nine digits (always within u32); false when there are none.
bool ReadNumber(const std::string& text, size_t& pos, uint32_t& out) {
  const size_t start = pos;
  uint32_t value = 0;
  while (pos < text.size() && pos - start < 9 && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
    ++pos;
  }
  out = value;
  return pos > start;
}

// "<width>x<height>", leading blanks allowed, anything after ignored.
bool ReadSize(const std::string& text, uint32_t& width, uint32_t& height) {
  size_t pos = 0;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  if (!ReadNumber(text, pos, width) || pos >= text.size() || text[pos] != 'x') return false;
  ++pos;
  return ReadNumber(text, pos, height) && width != 0 && height != 0;
}

}  // namespace

StreamKindSettings ParseStreamKindSettings(const std::string& text) {
  static const std::pair<const char*, uint32_t> kSections[] = {{"Recording", 0}, {"Live", 1}, {"Remote", 2}};
  StreamKindSettings settings;
  for (const auto& [key, kind] : kSections) {
    for (const std::string& entry : Split(HUtils::GetValue(text, key, "=", "."), ";")) {
      const std::vector<std::string> parts = Split(entry, ":");
      uint32_t width = 0;
      uint32_t height = 0;
      if (parts.size() != 2 || !ReadSize(parts[0], width, height)) continue;
      std::set<uint32_t> rates;
      for (const std::string& item : Split(parts[1], ",")) {
        const std::string trimmed = Trim(item, HUtils::kAnswerBlanks);
        size_t pos = 0;
        uint32_t rate = 0;
        if (ReadNumber(trimmed, pos, rate) && pos == trimmed.size() && rate != 0) rates.insert(rate);
      }
      if (!rates.empty()) settings[kind][{width, height}] = rates;
    }
  }
  return settings;
}

}  // namespace orbisan
