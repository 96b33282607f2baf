#include "driver/xml_pella_file_base.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

bool CPellaFileBase::CheckFile(const std::string& path, uint64_t* size) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  struct stat info {};
  const bool regular = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
  std::fclose(file);
  if (regular && size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  return regular;
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
