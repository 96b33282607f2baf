#include "runtime/thread_id.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace orbisan {

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

unsigned ProcessorCount() {
  static const unsigned count = [] {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1u : n;
  }();
  return count;
}

}  // namespace orbisan
