#pragma once

#include <string>

namespace orbisan {

// Environment variable that names another host directory.
inline constexpr const char* kHostDirectoryVariable = "STRANDLINE_HOST_DIR";

// Directory of the host executable (or the one STRANDLINE_HOST_DIR names),
// ending with "/"; empty when it cannot be found or its path is too long.
std::string HostDirectory();

// Directory part (with the trailing "/") of an executable path; empty when
// there is no "/" or the path does not fit in 511 characters.
std::string DirectoryOfPath(const std::string& path);

}  // namespace orbisan
