#pragma once

// Runs a shell command line (for the reference host in end-to-end tests) and
// collects its standard output.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace orbisan::test {

// The exit status, or -1 when the command could not run or was killed.
inline int RunShell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace orbisan::test
