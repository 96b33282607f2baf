// Splits the query of a CGI URL into its items.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strandline::sim {

// "&NAME" asks for a value (no value), "&NAME=VALUE" sets one.
struct CgiItem {
  std::string name;
  std::optional<std::string> value;
};

// Items in the order they stand; empty items ("&&") are dropped. Names and
// values are percent-decoded where a valid escape stands; anything else,
// "+" included, is kept as sent.
std::vector<CgiItem> ParseCgiQuery(std::string_view query);

std::string PercentDecode(std::string_view text);

// Every piece between separators, empty ones included.
std::vector<std::string_view> Split(std::string_view text, char separator);

}  // namespace strandline::sim
