#pragma once

#include <cstdarg>
#include <string>

namespace orbisan {

// printf-style formatting into a string sized exactly for the result.
std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orbisan
