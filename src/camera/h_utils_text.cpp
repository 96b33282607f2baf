#include "camera/h_utils_text.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>

#include "runtime/format.h"
#include "runtime/text_utils.h"

namespace orbisan::HUtils {

std::string FormatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

std::string GetValue(const std::string& text, const std::string& key, const std::string& separator,
                     const std::string& lineEnds) {
  if (key.empty() || separator.empty() || lineEnds.empty()) return {};
  size_t pos = text.find(key);
  while (pos != std::string::npos) {
    size_t lineStart = 0;
    if (pos > 0) {
      const size_t before = text.find_last_of(lineEnds, pos - 1);
      lineStart = before == std::string::npos ? 0 : before + 1;
    }
    size_t lineEnd = text.find_first_of(lineEnds, pos);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const size_t sep = text.find(separator, pos + key.size());
    if (sep == std::string::npos) return {};
    size_t next = sep;
    if (sep < lineEnd) {
      if (Trim(text.substr(lineStart, sep - lineStart), kAnswerBlanks) == key) {
        const size_t valueStart = sep + separator.size();
        size_t valueEnd = text.find_first_of(lineEnds, valueStart);
        if (valueEnd == std::string::npos) valueEnd = text.size();
        if (valueEnd > valueStart) return text.substr(valueStart, valueEnd - valueStart);
      }
      next = lineEnd;
    }
    if (next >= text.size()) break;
    pos = text.find(key, next);
  }
  return {};
}

std::vector<std::string> GetValueList(const std::string& text, const std::string& key, const std::string& separator,
                                      const std::string& lineEnds, const std::string& listSeparator) {
  return Split(GetValue(text, key, separator, lineEnds), listSeparator);
}

std::string RemoveChars(const std::string& text, const std::string& characters) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (characters.find(c) == std::string::npos) out.push_back(c);
  }
  return out;
}

bool ParseInt(const std::string& text, int& out) {
  size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (i >= text.size()) return false;
  for (size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  // Out-of-range numbers are held at the limits rather than wrapped.
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  out = static_cast<int>(value < INT_MIN ? INT_MIN : (value > INT_MAX ? INT_MAX : value));
  return true;
}

std::string ChangeParam(const std::string& answer, const std::string& key, const std::string& wanted) {
  const std::string raw = GetValue(answer, key, "=", "\r\n");
  if (raw.empty()) return {};
  if (RemoveChars(raw, "'") == wanted) return {};
  return "&" + key + "=" + wanted;
}

std::string ChangeParamU(const std::string& answer, const std::string& key, uint32_t wanted) {
  const std::string raw = GetValue(answer, key, "=", "\r\n");
  if (raw.empty()) return {};
  const std::string current = RemoveChars(raw, "'");
  if (current == std::to_string(wanted)) return {};
  const long long number = std::strtoll(current.c_str(), nullptr, 10);
  if (number == static_cast<long long>(wanted)) return {};
  return FormatString("&%s=%u", key.c_str(), wanted);
}

std::string MaskPassword(const std::string& url, const std::string& password) {
  static const std::string kItem = "PWD=";
  std::string out;
  size_t from = 0;
  while (true) {
    const size_t at = url.find(kItem, from);
    if (at == std::string::npos) break;
    const size_t value = at + kItem.size();
    size_t end;
    // Prefer the known password, so that a value carrying "&" is masked whole.
    if (!password.empty() && url.compare(value, password.size(), password) == 0) {
      end = value + password.size();
    } else {
      end = url.find('&', value);
      if (end == std::string::npos) end = url.size();
    }
    out.append(url, from, value - from);
    out.append("***");
    from = end;
  }
  out.append(url, from, std::string::npos);
  return out;
}

}  // namespace orbisan::HUtils
