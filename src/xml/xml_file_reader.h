#pragma once

#include <cstddef>
#include <string>

namespace orbisan {

// Largest XML file the driver reads; anything bigger is not a settings file.
inline constexpr size_t kMaxXmlFileBytes = 16u * 1024 * 1024;

// Reads a whole regular file of at most kMaxXmlFileBytes. Directories,
// devices and pipes are refused without blocking.
bool ReadXmlFile(const std::string& path, std::string* bytes);

}  // namespace orbisan
