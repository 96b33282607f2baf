#include "platform/host_directory.h"

#include <unistd.h>

#include <cstdlib>

namespace orbisan {

std::string DirectoryOfPath(const std::string& path) {
  if (path.empty() || path.size() > 511) return {};
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

std::string HostDirectory() {
  // A host (or a test) may place the driver's files elsewhere.
  if (const char* chosen = std::getenv(kHostDirectoryVariable); chosen != nullptr && *chosen != '\0') {
    std::string directory = chosen;
    if (directory.back() != '/') directory.push_back('/');
    return directory.size() > 511 ? std::string() : directory;
  }
  char buffer[512];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
  return DirectoryOfPath(std::string(buffer, static_cast<size_t>(n)));
}

}  // namespace orbisan
