#pragma once
// Reads the reference host's index file (`record --index`).
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace orbisan::test {

// Capture times of the index rows, in milliseconds after the first row.
inline std::vector<long long> IndexTimes(const std::string& csv) {
  std::vector<long long> times;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    unsigned hour = 0, minute = 0, second = 0, ms = 0;
    const size_t t = line.find('T');
    if (t == std::string::npos || std::sscanf(line.c_str() + t + 1, "%u:%u:%u.%u", &hour, &minute, &second, &ms) != 4) {
      continue;
    }
    long long at = ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
    if (!times.empty() && at < times.front()) at += 86400000;  // past midnight
    times.push_back(at);
  }
  for (size_t i = times.size(); i-- > 0;) times[i] -= times.front();
  return times;
}

}  // namespace orbisan::test
