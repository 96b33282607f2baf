// strandline ptz: steers one PTZ channel of a device through the driver's
// PTZ interfaces, running the actions given on the command line in order.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/commands.h"
#include "host/host_options.h"
#include "host/host_session.h"
#include "strandline/ptz.h"

namespace strandline::host {

namespace {

using orbisan::ipcapture::IIPPTZApi;

constexpr uint32_t kDefaultSpeed = 8;
constexpr uint32_t kMaxWaitMs = 600000;

struct Action {
  std::vector<std::string> words;  // as given, for the result line
};

bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Find(const char* const* names, int count, const std::string& word) {
  for (int i = 0; i < count; ++i) {
    if (word == names[i]) return i;
  }
  return -1;
}

const char* const kDirections[] = {"left", "right", "up", "down", "upleft", "upright", "downleft", "downright"};

// Splits the words into actions; false (with a reason) for anything unknown.
bool ParseActions(const std::vector<std::string>& words, std::vector<Action>& actions, std::string& error) {
  size_t i = 0;
  auto take = [&](Action& action, size_t count) {
    for (size_t k = 0; k < count; ++k) action.words.push_back(words[i++]);
  };
  auto optionalSpeed = [&](Action& action) {
    if (i < words.size() && IsNumber(words[i])) take(action, 1);
  };
  while (i < words.size()) {
    const std::string& verb = words[i];
    const std::string next = i + 1 < words.size() ? words[i + 1] : std::string();
    Action action;
    if (verb == "move" && Find(kDirections, 8, next) >= 0) {
      take(action, 2);
      optionalSpeed(action);
    } else if ((verb == "zoom" && (next == "in" || next == "out")) ||
               (verb == "focus" && (next == "near" || next == "far")) ||
               (verb == "iris" && (next == "open" || next == "close"))) {
      take(action, 2);
      optionalSpeed(action);
    } else if (verb == "stop" || verb == "unzoom" || verb == "caps") {
      take(action, 1);
    } else if (verb == "wait" && IsNumber(next) && std::strtoul(next.c_str(), nullptr, 10) <= kMaxWaitMs) {
      take(action, 2);
    } else if (verb == "preset" && (next == "add" || next == "goto" || next == "remove") && i + 2 < words.size()) {
      take(action, 3);
    } else if (verb == "preset" && (next == "list" || next == "current")) {
      take(action, 2);
    } else {
      error = "unknown or incomplete action at \"" + verb + (next.empty() ? "" : " " + next) + "\"";
      return false;
    }
    actions.push_back(std::move(action));
  }
  if (actions.empty()) error = "no actions given";
  return !actions.empty();
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The current preset's name, or "" when the camera stands on none.
std::string CurrentName(IIPPTZApi& api, int32_t& result) {
  char buffer[512];
  result = api.GetCurrentPresetName(buffer, sizeof buffer);
  return result == 1 ? std::string(buffer) : std::string();
}

int32_t Run(IIPPTZApi& api, const Action& action) {
  const std::vector<std::string>& w = action.words;
  auto speed = [&](size_t at) {
    return w.size() > at ? static_cast<uint32_t>(std::strtoul(w[at].c_str(), nullptr, 10)) : kDefaultSpeed;
  };
  const std::string& verb = w[0];
  if (verb == "move") return api.Move(static_cast<uint32_t>(Find(kDirections, 8, w[1])), speed(2));
  if (verb == "zoom") return w[1] == "in" ? api.ZoomIn(speed(2)) : api.ZoomOut(speed(2));
  if (verb == "focus") return w[1] == "near" ? api.FocusNear(speed(2)) : api.FocusFar(speed(2));
  if (verb == "iris") return w[1] == "open" ? api.IrisOpen(speed(2)) : api.IrisClose(speed(2));
  if (verb == "stop") return api.Stop();
  if (verb == "unzoom") return api.Unzoom(0);
  if (verb == "wait") {
    std::this_thread::sleep_for(std::chrono::milliseconds(speed(1)));
    return 1;
  }
  if (verb == "caps") {
    orbisan::ipcapture::PTZ_CAPABILITIES caps;
    const int32_t result = api.GetCapabilities(&caps);
    if (result == 1) {
      std::printf("ptz_caps");
      for (int f = 1; f <= 13; ++f) std::printf(" f%d=%u", f, caps.fields[f]);
      std::printf("\n");
    }
    return result;
  }
  // preset ...
  if (w[1] == "add") return api.AddPreset(w[2].c_str());
  if (w[1] == "goto") return api.GoToPreset(0, w[2].c_str());
  if (w[1] == "remove") return api.RemovePreset(w[2].c_str());
  int32_t result = 1;
  if (w[1] == "list") {
    const int32_t count = api.GetPresetCount();
    char buffer[512];
    for (int32_t index = 0; index < count; ++index) {
      const int32_t got = api.GetPresetName(static_cast<uint32_t>(index), buffer, sizeof buffer);
      if (got != 1) {
        result = got;
        continue;
      }
      std::printf("preset %d %s\n", index, buffer);
    }
    int32_t ignored = 0;
    std::printf("current=%s\n", CurrentName(api, ignored).c_str());
    return result;
  }
  const std::string name = CurrentName(api, result);
  std::printf("current=%s\n", name.c_str());
  return result;
}

}  // namespace

int RunPtz(const std::vector<std::string>& args) {
  std::vector<std::string> deviceArgs;
  std::vector<std::string> words;
  uint32_t channel = 0;
  std::string hostDir;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      words.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "strandline ptz: option %s needs a value\n", arg.c_str());
      return 2;
    }
    const std::string& value = args[++i];
    if (arg == "--channel") {
      if (!IsNumber(value)) {
        std::fprintf(stderr, "strandline ptz: --channel needs a number\n");
        return 2;
      }
      channel = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (arg == "--host-dir") {
      hostDir = value;
    } else {
      deviceArgs.push_back(arg);
      deviceArgs.push_back(value);
    }
  }
  HostOptions options;
  std::string error;
  std::vector<Action> actions;
  if (!ParseHostOptions(deviceArgs, options, error) || !ParseActions(words, actions, error)) {
    std::fprintf(stderr, "strandline ptz: %s\n", error.c_str());
    return 2;
  }
  // The driver keeps its preset files in the host's directory.
  if (!hostDir.empty()) {
    std::error_code failed;
    std::filesystem::create_directories(hostDir, failed);
    ::setenv("STRANDLINE_HOST_DIR", hostDir.c_str(), 1);
  }

  HostSession session(options);
  if (!session.Open(error)) {
    std::fprintf(stderr, "strandline ptz: %s\n", error.c_str());
    return 1;
  }
  orbisan::ipcapture::IIPPTZDriverEx* ptz = session.Driver()->GetPTZDriverEx();
  IIPPTZApi* api = ptz ? ptz->GetPTZApiEx(channel) : nullptr;
  if (api == nullptr) {
    std::fprintf(stderr,
                 "strandline ptz: no PTZ control for channel %u (URL commands need --param 6=1, presets the "
                 "camera's MAC as --param 9=MAC; see the driver's log)\n",
                 channel);
    return 1;
  }
  bool allDone = true;
  for (const Action& action : actions) {
    const int32_t result = Run(*api, action);
    std::printf("%s -> %d\n", Joined(action.words).c_str(), result);
    std::fflush(stdout);
    allDone = allDone && result == 1;
  }
  // Closing lets the commands still queued reach the camera (bounded).
  session.Close();
  return allDone ? 0 : 1;
}

}  // namespace strandline::host
