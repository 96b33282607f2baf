#include "camera/cgi_camera.h"

#include "runtime/text_utils.h"

namespace orbisan::test {

HttpReply CgiCamera::Handle(const std::string& uri) {
  std::lock_guard<std::mutex> lock(mutex);
  const size_t mark = uri.find('?');
  std::string cgi = uri.substr(0, mark);
  if (cgi.rfind("/cgi-bin/", 0) == 0) cgi = cgi.substr(9);
  std::string shown = cgi + "?";
  std::string body;
  bool firstItem = true;
  for (const std::string& item : Split(mark == std::string::npos ? "" : uri.substr(mark + 1), "&")) {
    if (item.rfind("USER=", 0) == 0 || item.rfind("PWD=", 0) == 0) continue;
    shown += (firstItem ? "" : "&") + item;
    firstItem = false;
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    if (auto fixed = answers.find(item); fixed != answers.end()) {
      body += fixed->second;
    } else if (name == "CHANNEL") {
      continue;
    } else if (refused.count(name)) {
      body += "ERROR: " + name + "\r\n";
    } else if (item == "SYSTEM_INFO") {
      body += systemInfo;
    } else if (item == "CONFIG_GET") {
      body += configDump;
    } else if (item == "SAVE_REBOOT") {
      body += "OK: SAVE_REBOOT\r\n";
    } else if (eq != std::string::npos) {
      const std::string value = item.substr(eq + 1);
      if (name == "VIDEO_RESOLUTION" && !resolutions.empty() && !resolutions.count(value)) {
        body += "ERROR: " + item + "\r\n";
      } else {
        settings[name] = value;
        body += "OK: " + name + "=" + value + "\r\n";
      }
    } else if (auto it = settings.find(name); it != settings.end()) {
      body += name + "='" + it->second + "'\r\n";
    } else {
      body += "ERROR: " + name + "\r\n";
    }
  }
  requests_.push_back(shown);
  HttpReply reply;
  reply.body = body;
  return reply;
}

std::vector<std::string> CgiCamera::Requests() {
  std::lock_guard<std::mutex> lock(mutex);
  return requests_;
}

void CgiCamera::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex);
  requests_.clear();
}

std::string CgiCamera::Setting(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = settings.find(name);
  return it == settings.end() ? std::string() : it->second;
}

}  // namespace orbisan::test
