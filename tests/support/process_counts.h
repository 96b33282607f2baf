#pragma once

// Threads, descriptors and memory of this process (from /proc), for tests
// that check that repeated starts and stops leave nothing behind.

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>

namespace orbisan::test {

inline int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
  }
  return n;
}

// The threads and descriptors of this process.
struct Counts {
  int threads = 0;
  int fds = 0;
  bool operator==(const Counts&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Counts& c) {
    return out << c.threads << " threads, " << c.fds << " descriptors";
  }
};

inline Counts CountNow() { return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd")}; }

// The counts once they have stopped changing for half a second (at most
// 10 s): servers in this process close their side of a connection a little later.
inline Counts SettledCounts() {
  Counts last = CountNow();
  for (int stable = 0, i = 0; stable < 5 && i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Counts now = CountNow();
    stable = now == last ? stable + 1 : 0;
    last = now;
  }
  return last;
}

// Waits (at most 30 s) for the counts to be back exactly at a settled
// baseline: fewer would mean the baseline held something still closing.
inline Counts CountsSettleAt(const Counts& baseline) {
  Counts now = CountNow();
  for (int i = 0; i < 300 && now != baseline; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    now = CountNow();
  }
  return now;
}

// A "Name: value kB" field of a /proc file; 0 when it cannot be read.
inline long ProcKiB(const char* file, const std::string& field) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return 0;
}

// Resident memory in KiB.
inline long ResidentKiB() { return ProcKiB("/proc/self/status", "VmRSS:"); }

// Anonymous memory in KiB (heap, thread stacks; not the mapped libraries).
inline long AnonymousKiB() {
  const long rollup = ProcKiB("/proc/self/smaps_rollup", "Anonymous:");
  return rollup != 0 ? rollup : ProcKiB("/proc/self/status", "RssAnon:");
}

}  // namespace orbisan::test
