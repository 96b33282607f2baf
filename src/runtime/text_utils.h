#pragma once

#include <string>

namespace orbisan {

// UTF-8 <-> UTF-32 wide strings; empty on empty or malformed input.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace orbisan
