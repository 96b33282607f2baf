// Feeds arbitrary camera answers through the functions that read them.
// Input: text, then NUL-separated key, separator, line ends and wanted value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/h_utils_text.h"
#include "device/stream_kind_settings.h"
#include "runtime/text_utils.h"

using namespace orbisan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < 4) {
    const size_t end = input.find('\0', start);
    if (end == std::string::npos) break;
    parts.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  const std::string text = input.substr(std::min(start, input.size()));
  const std::string key = parts.size() > 0 ? parts[0] : "VIDEO_FPS";
  const std::string separator = parts.size() > 1 ? parts[1] : "=";
  const std::string lineEnds = parts.size() > 2 ? parts[2] : "\r\n";
  const std::string wanted = parts.size() > 3 ? parts[3] : "25";

  const std::string value = HUtils::GetValue(text, key, separator, lineEnds);
  // A value is a piece of the answer and never runs past a line end.
  if (!value.empty() && (text.find(value) == std::string::npos || value.find_first_of(lineEnds) != std::string::npos)) {
    std::abort();
  }
  HUtils::GetValueList(text, key, separator, lineEnds, ",");
  HUtils::GetValue(text, key, "='", " '\r\n");
  HUtils::GetValue(text, key, " = ", "\r\n");
  const std::string change = HUtils::ChangeParam(text, key, wanted);
  if (!change.empty() && change != "&" + key + "=" + wanted) std::abort();
  HUtils::ChangeParamU(text, key, static_cast<uint32_t>(std::strtoul(wanted.c_str(), nullptr, 10)));
  int number = 0;
  HUtils::ParseInt(value, number);
  HUtils::ParseInt(text, number);
  Trim(ToLower(HUtils::RemoveChars(text, " '\r\n")), HUtils::kAnswerBlanks);
  Split(text, separator);
  const std::string masked = HUtils::MaskPassword(text, wanted);
  if (text.find("PWD=") == std::string::npos && masked != text) std::abort();
  ParseStreamKindSettings(text);
  return 0;
}
