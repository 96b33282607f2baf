#pragma once

#include <string>
#include <vector>

namespace strandline::host {

int RunOpen(const std::vector<std::string>& args);
int RunRecord(const std::vector<std::string>& args);
int RunEvents(const std::vector<std::string>& args);
int RunDemo(const std::vector<std::string>& args);
int RunPtz(const std::vector<std::string>& args);
int RunSimulate(int argc, char** argv);
int RunProbe(const std::vector<std::string>& args);
int RunTalk(const std::vector<std::string>& args);

}  // namespace strandline::host
