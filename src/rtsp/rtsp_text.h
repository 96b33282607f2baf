#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text_utils.h"

namespace orbisan::rtsptext {

using orbisan::Split;
using orbisan::ToLower;
using orbisan::Trim;
// A decimal number made only of the digits 0-9 (at least one, no overflow
// beyond max); anything else gives 0.
uint32_t ParseDecimal(std::string_view text, uint32_t max = UINT32_MAX);

// The value of "key<separator>value" in a line: the key must stand alone as
// its token (the text from the token's start to the separator, trimmed, is
// exactly the key); the value runs to the next terminator or the line's end.
// Empty when the key is not there in that form.
std::string ExtractValue(std::string_view line, std::string_view key, std::string_view separator,
                         std::string_view terminators);

}  // namespace orbisan::rtsptext
