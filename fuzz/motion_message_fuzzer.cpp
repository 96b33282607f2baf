// Feeds any byte stream in any chunking through the motion message splitter
// and parser. The first byte seeds the chunk sizes; the rest is the stream.
// Checks that every message starts with the mark, that the bytes handed out
// are a part of the stream in order, and that the buffer stays bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "io/motion_message_splitter.h"

using namespace orbisan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint32_t seed = data[0];
  const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  constexpr size_t kLimit = 256;
  CMotionMessageSplitter splitter(kLimit);
  std::string seen;
  size_t pos = 0;
  while (pos < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    const size_t chunk = 1 + (seed >> 16) % 64;
    const std::string_view piece = stream.substr(pos, chunk);
    pos += piece.size();
    splitter.Feed(piece, [&](const std::string& message) {
      if (message.compare(0, 2, "--") != 0) std::abort();
      if (message.size() > 2 && message.find("--", 2) != std::string::npos) std::abort();
      if (stream.find(message) == std::string_view::npos) std::abort();
      (void)ParseMotionMessage(message);
      seen += message;
    });
    // Bounded by the limit plus the chunk that was just added.
    if (splitter.Buffered() > kLimit + piece.size()) std::abort();
  }
  if (seen.size() > stream.size()) std::abort();
  return 0;
}
