#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orbisan {

// Whether part occurs anywhere in text.
inline bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }
// ASCII letters to lower case; other bytes stay as they are (no locale).
std::string ToLower(std::string_view text);
// Without the leading and trailing characters that are in blanks.
std::string Trim(std::string_view text, std::string_view blanks = " \t\r\n");
// The pieces between any of the separator characters; empty pieces are
// dropped when skipEmpty. No separators: the text is one piece.
std::vector<std::string> Split(std::string_view text, std::string_view separators, bool skipEmpty = true);

// UTF-8 <-> UTF-32 wide strings; empty on empty or malformed input.
// A decimal port 1..65535 (blanks around it allowed), else 0.
uint16_t ParsePort(std::string_view text);

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace orbisan
