#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace orbisan {

// For buffers that grow to the size of an HD key frame and live as long as a
// stream: from a size on they are pages of their own, so that memory is
// taken only where bytes were written and goes back to the system when the
// buffer moves or ends. From malloc, each stream's thread would leave such
// holes in an arena of its own.
template <typename T>
class TPageAllocator {
 public:
  using value_type = T;
  static constexpr size_t kPageBackedBytes = 64 * 1024;

  TPageAllocator() = default;
  template <typename U>
  TPageAllocator(const TPageAllocator<U>&) {}

  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kPageBackedBytes) return static_cast<T*>(::operator new(bytes));
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(pages);
  }
  void deallocate(T* p, size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kPageBackedBytes) {
      ::operator delete(p);
    } else {
      munmap(p, bytes);
    }
  }
  template <typename U>
  bool operator==(const TPageAllocator<U>&) const {
    return true;
  }
};

}  // namespace orbisan
