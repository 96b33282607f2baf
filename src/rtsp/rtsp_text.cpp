#include "rtsp/rtsp_text.h"

namespace orbisan::rtsptext {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::vector<std::string> Split(std::string_view text, std::string_view separators, bool skipEmpty) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || separators.find(text[i]) != std::string_view::npos) {
      if (!skipEmpty || i > start) out.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

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
