#include "camera/cgi_path.h"

namespace orbisan {

CCgiPath::CCgiPath(std::string_view family, const DEVICE_INFO& device) : text_("/cgi-bin/") {
  text_.append(family).append("?").append(device.GetLoginQuery());
}

CCgiPath& CCgiPath::Channel(uint32_t channel) { return channel == 0 ? *this : Item("CHANNEL", channel); }

CCgiPath& CCgiPath::Item(std::string_view name) {
  text_.append("&").append(name);
  return *this;
}

CCgiPath& CCgiPath::Item(std::string_view name, std::string_view value) {
  text_.append("&").append(name).append("=").append(value);
  return *this;
}

CCgiPath& CCgiPath::Item(std::string_view name, uint32_t value) { return Item(name, std::to_string(value)); }

CCgiPath& CCgiPath::Items(std::string_view joined) {
  if (joined.empty()) return *this;
  if (joined.front() != '&') text_.append("&");
  text_.append(joined);
  return *this;
}

}  // namespace orbisan
