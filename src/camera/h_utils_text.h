#pragma once

// Reading and writing the text of CGI answers and requests (no HTTP here).

#include <cstdint>
#include <string>
#include <vector>

namespace orbisan::HUtils {

// Blanks around the values of an answer; line ends are not among them.
inline constexpr const char* kAnswerBlanks = " \t";

std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string GetValue(const std::string& text, const std::string& key, const std::string& separator,
                     const std::string& lineEnds);
std::vector<std::string> GetValueList(const std::string& text, const std::string& key, const std::string& separator,
                                      const std::string& lineEnds, const std::string& listSeparator);
std::string RemoveChars(const std::string& text, const std::string& characters);
// A decimal integer with an optional sign and nothing else, held at the int limits.
bool ParseInt(const std::string& text, int& out);
// "&key=wanted" when the answer reports key with another value, else "".
std::string ChangeParam(const std::string& answer, const std::string& key, const std::string& wanted);
std::string ChangeParamU(const std::string& answer, const std::string& key, uint32_t wanted);
// The URL with the value of every "PWD=" item replaced by "***".
std::string MaskPassword(const std::string& url, const std::string& password);

}  // namespace orbisan::HUtils
