#include "io/motion_message_splitter.h"

#include "camera/h_utils_text.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

constexpr std::string_view kMark = "--";

// A field value as a decimal integer; missing or not a number counts as 0.
int FieldValue(const std::string& line, const char* name) {
  int value = 0;
  if (!HUtils::ParseInt(Trim(HUtils::GetValue(line, name, "=", ";")), value)) return 0;
  return value;
}

}  // namespace

void CMotionMessageSplitter::DropAllButMarkStart() {
  const bool keepLast = !buffer_.empty() && buffer_.back() == '-';
  buffer_.clear();
  if (keepLast) buffer_.push_back('-');
}

bool CMotionMessageSplitter::Feed(std::string_view chunk, const std::function<void(const std::string&)>& onMessage) {
  buffer_.append(chunk);
  for (;;) {
    const size_t first = buffer_.find(kMark);
    if (first == std::string::npos) {
      // A mark may be split over two chunks: its first "-" stays.
      DropAllButMarkStart();
      return true;
    }
    const size_t second = buffer_.find(kMark, first + kMark.size());
    if (second == std::string::npos) {
      if (first > 0) buffer_.erase(0, first);
      if (buffer_.size() <= limit_) return true;
      DropAllButMarkStart();
      return false;
    }
    // Every complete message is parsed now, not when the next chunk comes:
    // a motion start must not wait for more data.
    std::string message = buffer_.substr(first, second - first);
    buffer_.erase(0, second);
    onMessage(message);
  }
}

bool ParseMotionMessage(const std::string& message) {
  size_t pos = 0;
  while (pos < message.size()) {
    const size_t start = message.find_first_not_of("\r\n", pos);
    if (start == std::string::npos) break;
    size_t end = message.find_first_of("\r\n", start);
    if (end == std::string::npos) end = message.size();
    const std::string line = message.substr(start, end - start);
    pos = end;
    const int level = FieldValue(line, "level");
    const int threshold = FieldValue(line, "threshold");
    if (level != 0 && threshold != 0 && level > threshold) return true;
  }
  return false;
}

}  // namespace orbisan
