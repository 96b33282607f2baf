#include "sim/cgi_query.h"

namespace strandline::sim {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<CgiItem> ParseCgiQuery(std::string_view query) {
  std::vector<CgiItem> items;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view item = query.substr(start, end - start);
    if (!item.empty()) {
      size_t eq = item.find('=');
      CgiItem parsed;
      if (eq == std::string_view::npos) {
        parsed.name = PercentDecode(item);
      } else {
        parsed.name = PercentDecode(item.substr(0, eq));
        parsed.value = PercentDecode(item.substr(eq + 1));
      }
      if (!parsed.name.empty() || parsed.value) items.push_back(std::move(parsed));
    }
    start = end + 1;
  }
  return items;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace strandline::sim
