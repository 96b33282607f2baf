#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "runtime/page_allocator.h"

namespace orbisan {

// The bytes of the frame being put together. An HD key frame is some hundred
// kilobytes: from 64 KiB on the buffer is pages of its own (see
// TPageAllocator). Appends are one memcpy each, which a vector with its own
// allocator would do byte by byte.
class CFrameBuffer {
 public:
  CFrameBuffer() = default;
  CFrameBuffer(const CFrameBuffer&) = delete;
  CFrameBuffer& operator=(const CFrameBuffer&) = delete;
  ~CFrameBuffer() {
    if (data_ != nullptr) TPageAllocator<uint8_t>().deallocate(data_, capacity_);
  }

  void append(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    if (size_ + count > capacity_) Grow(size_ + count);
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
  }
  void push_back(uint8_t byte) { append(&byte, 1); }
  // The capacity stays for the next frame. After a frame of more than
  // 2 * kKeptBytes (a key frame, some hundred kilobytes once a second or so)
  // the pages past kKeptBytes go back: the frames between fit in what is
  // kept, and a stream holds a key frame's memory only while it puts one
  // together, not all the time.
  void clear() {
    if (size_ > 2 * kKeptBytes) TPageAllocator<uint8_t>::Release(data_, capacity_, kKeptBytes);
    size_ = 0;
  }
  static constexpr size_t kKeptBytes = 64 * 1024;
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  size_t capacity() const { return capacity_; }
  uint8_t operator[](size_t i) const { return data_[i]; }

 private:
  void Grow(size_t needed) {
    size_t capacity = capacity_ != 0 ? capacity_ : 4096;
    while (capacity < needed) capacity *= 2;
    TPageAllocator<uint8_t> allocator;
    uint8_t* grown = allocator.allocate(capacity);
    if (size_ != 0) std::memcpy(grown, data_, size_);
    if (data_ != nullptr) allocator.deallocate(data_, capacity_);
    data_ = grown;
    capacity_ = capacity;
  }

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace orbisan
