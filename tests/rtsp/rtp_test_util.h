#pragma once

// Builders for RTP packets and interleaved frames used by several tests, and
// a record of what the code under test hands over on its own threads.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace orbisan::test {

struct RtpFields {
  uint8_t version = 2;
  bool marker = false;
  uint8_t payloadType = 96;
  uint16_t sequence = 1;
  uint32_t timestamp = 1000;
  uint32_t ssrc = 0x11223344;
  std::vector<uint32_t> csrc = {};
  bool extension = false;
  uint16_t extensionProfile = 0;
  std::vector<uint8_t> extensionData = {};  // multiple of 4
  std::vector<uint8_t> payload = {};
  uint8_t padding = 0;  // bytes of padding incl. the count byte
};

inline void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline std::vector<uint8_t> BuildRtp(const RtpFields& fields) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>((fields.version << 6) | (fields.padding ? 0x20 : 0) |
                                     (fields.extension ? 0x10 : 0) | (fields.csrc.size() & 0x0F)));
  out.push_back(static_cast<uint8_t>((fields.marker ? 0x80 : 0) | (fields.payloadType & 0x7F)));
  PutU16(out, fields.sequence);
  PutU32(out, fields.timestamp);
  PutU32(out, fields.ssrc);
  for (uint32_t c : fields.csrc) PutU32(out, c);
  if (fields.extension) {
    PutU16(out, fields.extensionProfile);
    PutU16(out, static_cast<uint16_t>(fields.extensionData.size() / 4));
    out.insert(out.end(), fields.extensionData.begin(), fields.extensionData.end());
  }
  out.insert(out.end(), fields.payload.begin(), fields.payload.end());
  if (fields.padding) {
    for (uint8_t i = 1; i < fields.padding; ++i) out.push_back(0);
    out.push_back(fields.padding);
  }
  return out;
}

inline std::vector<uint8_t> Interleave(uint8_t channel, const std::vector<uint8_t>& packet) {
  std::vector<uint8_t> out = {'$', channel};
  PutU16(out, static_cast<uint16_t>(packet.size()));
  out.insert(out.end(), packet.begin(), packet.end());
  return out;
}

inline std::vector<uint8_t> Bytes(size_t count, uint8_t seed) {
  std::vector<uint8_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
  return out;
}

template <typename T>
class Recorded {
 public:
  // Returns the item's index.
  size_t Add(T item) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(std::move(item));
    changed_.notify_all();
    return items_.size() - 1;
  }
  // Waits (bounded) until pred(items) holds.
  template <typename Pred>
  bool WaitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(items_); });
  }
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitFor([count](const std::vector<T>& items) { return items.size() >= count; }, timeout);
  }
  std::vector<T> Items() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<T> items_;
};

}  // namespace orbisan::test
