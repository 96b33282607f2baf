#pragma once

#include <string>

namespace orbisan {

// Directory of the host executable, ending with "/"; empty when it cannot be
// found or its path is too long.
std::string HostDirectory();

// Directory part (with the trailing "/") of an executable path; empty when
// there is no "/" or the path does not fit in 511 characters.
std::string DirectoryOfPath(const std::string& path);

}  // namespace orbisan
