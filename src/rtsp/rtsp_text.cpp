#include "rtsp/rtsp_text.h"

namespace orbisan::rtsptext {

uint32_t ParseDecimal(std::string_view text, uint32_t max) {
  if (text.empty()) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) return 0;
  }
  return static_cast<uint32_t>(value);
}

std::string ExtractValue(std::string_view line, std::string_view key, std::string_view separator,
                         std::string_view terminators) {
  if (key.empty()) return {};
  const size_t keyPos = line.find(key);
  if (keyPos == std::string_view::npos) return {};
  size_t tokenStart = keyPos;
  while (tokenStart > 0 && terminators.find(line[tokenStart - 1]) == std::string_view::npos) --tokenStart;
  const size_t separatorPos = line.find(separator, keyPos + key.size());
  if (separatorPos == std::string_view::npos) return {};
  // The separator must lie in the same token as the key.
  for (size_t i = keyPos; i < separatorPos; ++i) {
    if (terminators.find(line[i]) != std::string_view::npos) return {};
  }
  if (Trim(line.substr(tokenStart, separatorPos - tokenStart)) != key) return {};
  const size_t valueStart = separatorPos + separator.size();
  size_t valueEnd = valueStart;
  while (valueEnd < line.size() && terminators.find(line[valueEnd]) == std::string_view::npos) ++valueEnd;
  return std::string(line.substr(valueStart, valueEnd - valueStart));
}

}  // namespace orbisan::rtsptext
