#pragma once

// Threads, descriptors and memory of this process (from /proc), for tests
// that check that repeated starts and stops leave nothing behind.

#include <dirent.h>

#include <chrono>
#include <fstream>
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

// The count once it has stopped changing for half a second (at most 10 s):
// servers in this process close their side of a connection a little later.
inline int SettledCount(const char* dir) {
  int last = CountEntries(dir);
  for (int stable = 0, i = 0; stable < 5 && i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int now = CountEntries(dir);
    stable = now == last ? stable + 1 : 0;
    last = now;
  }
  return last;
}

// Waits (at most 30 s) for the count to be back exactly at a settled
// baseline: fewer would mean the baseline held something still closing.
inline int CountSettlesAt(const char* dir, int baseline) {
  int now = CountEntries(dir);
  for (int i = 0; i < 300 && now != baseline; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    now = CountEntries(dir);
  }
  return now;
}

// Resident memory in KiB (0 when it cannot be read).
inline long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// Anonymous memory in KiB (heap, thread stacks; not the mapped libraries),
// 0 when it cannot be read.
inline long AnonymousKiB() {
  std::ifstream rollup("/proc/self/smaps_rollup");
  for (std::string line; std::getline(rollup, line);) {
    if (line.rfind("Anonymous:", 0) == 0) return std::stol(line.substr(10));
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("RssAnon:", 0) == 0) return std::stol(line.substr(8));
  }
  return 0;
}

}  // namespace orbisan::test
