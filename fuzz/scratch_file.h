#pragma once

// A scratch directory for fuzzers that read files: made once, removed at
// exit, and never destroyed so that the exit handler can still use it.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzzing {

inline const std::string& WorkDirectory() {
  static const std::string* dir = [] {
    char pattern[] = "/tmp/strandline_fuzz_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) abort();
    auto* path = new std::string(std::string(made) + "/");
    std::atexit([] { std::filesystem::remove_all(WorkDirectory()); });
    return path;
  }();
  return *dir;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);
}

// An invariant the input broke: reported, then a crash the fuzzer keeps.
inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

}  // namespace fuzzing
