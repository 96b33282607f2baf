#include "camera/h_utils.h"

namespace orbisan::HUtils {

namespace {

constexpr const char* kMethod = "orbisan::HUtils::RequestGetRD";

bool TextSendable(const std::string& text) {
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F || c == '#' || c == '&') return false;
  }
  return true;
}

}  // namespace

bool CredentialsSendable(const DEVICE_INFO& device) {
  return TextSendable(device.user) && TextSendable(device.password);
}

CResultDef RequestGetRD(Web::CHttpSender& http, const std::string& url, std::vector<char>& body, bool requireBody) {
  CResultDef result;
  result.SetResultEx(3, kRequestOk, "%s", "");
  const DEVICE_INFO& device = http.GetDeviceInfo();
  const std::string deviceText = FormatString("device %s:%u", device.address.c_str(), device.port);
  const std::string shownUrl = MaskPassword(url, device.password);
  body.clear();

  if (!CredentialsSendable(device)) {
    result.SetResultEx(4, kRequestNotSent,
                       "%s: Cannot send request \"%s\" to %s: the user name or password contains a blank, a control "
                       "character, \"#\" or \"&\", which cannot be sent in the camera's URLs",
                       kMethod, shownUrl.c_str(), deviceText.c_str());
    return result;
  }

  Web::CHttpRequest request("GET", url);
  const bool sent = http.Send(request);
  const uint32_t status = http.GetStatusCode();
  if (!sent || status == 0) {
    result.SetResultEx(4, kRequestNotSent, "%s: Cannot send request \"%s\" to %s", kMethod, shownUrl.c_str(),
                       deviceText.c_str());
    return result;
  }
  if (status / 100 != 2) {
    if (status == 401) {
      result.SetResultEx(1, kRequestUnauthorized, "%s: %s is unable to process \"%s\" request: credentials are invalid",
                         kMethod, deviceText.c_str(), shownUrl.c_str());
    } else if (status == 404) {
      result.SetResultEx(1, kRequestNotFound, "%s: The \"%s\" URL was not found on %s", kMethod, shownUrl.c_str(),
                         deviceText.c_str());
    } else {
      result.SetResultEx(1, kRequestStatus, "%s: %s is unable to process \"%s\" request. HTTP status code is %u",
                         kMethod, deviceText.c_str(), shownUrl.c_str(), status);
    }
    return result;
  }
  if (requireBody && http.ReadAll(body) == 0) {
    result.SetResultEx(2, kRequestNoBody, "%s: Incorrect response for request \"%s\" from %s", kMethod,
                       shownUrl.c_str(), deviceText.c_str());
  }
  return result;
}

bool RequestGet(Web::CHttpSender& http, const std::string& url, bool requireBody) {
  std::vector<char> scratch;
  return RequestGetRD(http, url, scratch, requireBody).GetCode() == kRequestOk;
}

bool RequestGet(Web::CHttpSender& http, const std::string& url, std::string& answer) {
  answer.clear();
  std::vector<char> body;
  if (RequestGetRD(http, url, body, true).GetCode() != kRequestOk) return false;
  answer.assign(body.begin(), body.end());
  return true;
}

}  // namespace orbisan::HUtils
