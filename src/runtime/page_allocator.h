#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <new>
#include <vector>

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
  // Gives the pages of a buffer of n from element `from` on back to the
  // system; the buffer stays usable and they read as zero when touched
  // again. Only page-backed buffers have such pages; `from` is rounded up to
  // a page.
  static void Release(T* p, size_t n, size_t from) {
    const size_t bytes = n * sizeof(T);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t start = (from * sizeof(T) + page - 1) / page * page;
    if (bytes < kPageBackedBytes || start >= bytes) return;
    madvise(reinterpret_cast<char*>(p) + start, bytes - start, MADV_DONTNEED);
  }
  template <typename U>
  bool operator==(const TPageAllocator<U>&) const {
    return true;
  }
};

// Bytes of [p, p + bytes) that hold pages now (p page-aligned), for checks
// that memory went back.
inline size_t ResidentBytes(const void* p, size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + page - 1) / page);
  if (resident.empty() || mincore(const_cast<void*>(p), bytes, resident.data()) != 0) return 0;
  size_t pages = 0;
  for (unsigned char flag : resident) pages += flag & 1;
  return pages * page;
}

}  // namespace orbisan
