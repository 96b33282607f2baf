#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace orbisan {

// Cuts the camera's motion message stream into messages. Each message starts
// with the mark "--" and runs up to the next one; bytes before the first mark
// are dropped. The buffer is bounded: a part that outgrows it is dropped.
class CMotionMessageSplitter {
 public:
  static constexpr size_t kDefaultLimit = 64 * 1024;

  explicit CMotionMessageSplitter(size_t limit = kDefaultLimit) : limit_(limit) {}

  // Appends a chunk and hands every complete message to onMessage, in order.
  // Returns false when data had to be dropped for the bound.
  bool Feed(std::string_view chunk, const std::function<void(const std::string&)>& onMessage);
  void Clear() { buffer_.clear(); }
  size_t Buffered() const { return buffer_.size(); }

 private:
  // Keeps only what may still start a mark.
  void DropAllButMarkStart();

  size_t limit_;
  std::string buffer_;
};

// The motion state of one message: the first line whose "level" and
// "threshold" fields are both non-zero decides (level > threshold); a message
// without such a line means no motion.
bool ParseMotionMessage(const std::string& message);

}  // namespace orbisan
