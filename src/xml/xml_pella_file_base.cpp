#include "xml/xml_pella_file_base.h"

#include <unistd.h>

#include <utility>

namespace orbisan {

CPellaFileBase::CPellaFileBase(std::string baseDirectory) : baseDirectory_(std::move(baseDirectory)) {
  if (baseDirectory_.empty()) baseDirectory_ = ExecutableDirectory();
  if (!baseDirectory_.empty() && baseDirectory_.back() != '/') baseDirectory_ += '/';
}

std::string CPellaFileBase::ResolveName(const std::string& name) const {
  if (name.empty() || name.find('/') != std::string::npos) return name;
  return baseDirectory_ + name;
}

std::string CPellaFileBase::ExecutableDirectory() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace orbisan
