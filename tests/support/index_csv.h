#pragma once
// Reads the reference host's index file (`record --index`).
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace orbisan::test {

// Capture times of the index rows as milliseconds since 1970 (UTC).
inline std::vector<long long> IndexEpochMs(const std::string& csv) {
  std::vector<long long> times;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::tm t{};
    unsigned ms = 0;
    const size_t at = line.find(',');
    if (at == std::string::npos || std::sscanf(line.c_str() + at + 1, "%d-%d-%dT%d:%d:%d.%uZ", &t.tm_year, &t.tm_mon,
                                               &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &ms) != 7) {
      continue;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    times.push_back(static_cast<long long>(timegm(&t)) * 1000 + ms);
  }
  return times;
}

// The same in milliseconds after the first row.
inline std::vector<long long> IndexTimes(const std::string& csv) {
  std::vector<long long> times = IndexEpochMs(csv);
  for (size_t i = times.size(); i-- > 0;) times[i] -= times.front();
  return times;
}

}  // namespace orbisan::test
