#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "device/device_info.h"

namespace orbisan {

// The camera's CGI families (the program after "/cgi-bin/").
namespace cgi {
inline constexpr std::string_view kSystem = "system";
inline constexpr std::string_view kEncoder = "encoder";
inline constexpr std::string_view kMpeg4 = "mpeg4";
inline constexpr std::string_view kUpdate = "update";
}  // namespace cgi

// The path and query of one CGI request:
//   /cgi-bin/<family>?USER=<user>&PWD=<password>[&CHANNEL=<n>]&<item>...
// Items are queries ("NAME") or changes ("NAME=VALUE") in the order added.
// Text goes out as given, without escaping: the camera reads its queries raw
// (HUtils::CredentialsSendable decides whether the login can be sent).
//
//   Get(CCgiPath(cgi::kEncoder, device).Channel(2).Item("VIDEO_FPS_NUM").Item("VIDEO_GOP", 0u))
class CCgiPath {
 public:
  CCgiPath(std::string_view family, const DEVICE_INFO& device);

  // "&CHANNEL=<channel>"; 0 adds nothing (a device with one channel).
  CCgiPath& Channel(uint32_t channel);
  // "&NAME"
  CCgiPath& Item(std::string_view name);
  // "&NAME=VALUE"
  CCgiPath& Item(std::string_view name, std::string_view value);
  CCgiPath& Item(std::string_view name, uint32_t value);
  // Items already joined by "&" (as HUtils::ChangeParam makes them), with or
  // without the leading "&"; empty adds nothing.
  CCgiPath& Items(std::string_view joined);

  const std::string& Text() const { return text_; }
  operator const std::string&() const { return text_; }

 private:
  std::string text_;
};

}  // namespace orbisan
