#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/h_utils_text.h"
#include "camera/http_sender.h"
#include "device/device_info.h"
#include "runtime/result_def.h"

namespace orbisan::HUtils {

// Result codes of RequestGetRD (category in brackets).
enum RequestCode : uint32_t {
  kRequestOk = 0,             // [3]
  kRequestStatus = 8,         // [1] non-2xx status other than 401/404
  kRequestNotFound = 9,       // [1] 404
  kRequestUnauthorized = 10,  // [1] 401 after the authentication retry
  kRequestNotSent = 11,       // [4] no response, or the request could not be sent
  kRequestNoBody = 12,        // [2] empty body where one was required
};

// One GET request, its outcome classified. Messages never show the password.
CResultDef RequestGetRD(Web::CHttpSender& http, const std::string& url, std::vector<char>& body, bool requireBody);
bool RequestGet(Web::CHttpSender& http, const std::string& url, bool requireBody);
// Empties answer; on success it holds the body.
bool RequestGet(Web::CHttpSender& http, const std::string& url, std::string& answer);

// Whether user name and password can stand raw in a CGI query: no blanks,
// control characters, "#" (would cut the query) or "&" (would add items).
bool CredentialsSendable(const DEVICE_INFO& device);

}  // namespace orbisan::HUtils
