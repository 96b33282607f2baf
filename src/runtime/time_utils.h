#pragma once

#include <cstdint>
#include <string>

#include "runtime/recursive_lock.h"
#include "strandline/system_time.h"

namespace orbisan {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
constexpr uint64_t kFileTimeUnitsPerMs = 10000ull;

// Current UTC as a file time (100 ns units since 1601-01-01).
uint64_t NowFileTime();
// Milliseconds since the given file time; 0 when it is not in the past.
uint32_t ElapsedMsSince(uint64_t fileTime);
// 0 when the fields do not form a valid date.
uint64_t SystemTimeToFileTime64(const SYSTEMTIME& time);
bool FileTimeToSystemTimeUtc(uint64_t fileTime, SYSTEMTIME& out);
bool FileTimeToSystemTimeLocal(uint64_t fileTime, SYSTEMTIME& out);
// "YYYY/MM/DD hh:mm:ss.mmm" in local time; empty for 0 or an invalid time.
std::string FormatLocalTime(uint64_t fileTime);
// Milliseconds of a monotonic clock (wraps like a 32-bit tick count).
uint32_t TickCountMs();
// Milliseconds of the monotonic clock, not wrapping: what intervals are
// measured on, so that a step of the wall clock neither fakes nor hides one.
uint64_t SteadyMs();
// The same clock in microseconds.
uint64_t SteadyUs();
// Moves the wall clock seen by NowFileTime (100 ns units, either way); lets a
// test step the clock as an operator or time service would.
void ShiftWallClockForTesting(int64_t units);

// A time stamp guarded by its own lock; a new one holds the current time.
// ElapsedMs runs on the monotonic clock; Get gives the wall-clock stamp.
class CTime {
 public:
  CTime();
  virtual ~CTime() = default;
  void Touch();
  void Set(uint64_t stamp);
  uint64_t Get();
  uint32_t ElapsedMs();

 private:
  CRecursiveLock lock_;
  uint64_t stamp_;
  int64_t steadyMs_;  // may lie before the clock's origin
};

}  // namespace orbisan
